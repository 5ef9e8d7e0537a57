// POSIX file systems have no short aliases: there is nothing to produce, so
// Open gives up after its first attempt.
#include "file/short_path.h"

namespace zelp {

int FullShortPath(const char16_t*, char16_t* out) {
  out[0] = 0;
  return 0;
}

int DirShortPath(const char16_t*, char16_t* out) {
  out[0] = 0;
  return 0;
}

}  // namespace zelp
