// A native stand-in for the dialog program in `zelp pack` tests: it carries
// the patch stamp and the dialog's mark, and prints the stamped patch offset it was given.
#include <cinttypes>
#include <cstdio>

#include "engine/stamp.h"
#include "ui/dialog_mark.h"

int main() {
  zelp::KeepDialogMark();
  std::printf("%" PRIu64 "\n", zelp::StampedPatchOffset());
  return 0;
}
