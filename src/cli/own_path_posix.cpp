#include <limits.h>
#include <unistd.h>

#include "cli/cli.h"
#include "common/text.h"

namespace zelp::cli {

std::u16string OwnProgramPath() {
  char buffer[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
  return n > 0 ? PathFromNative(std::string(buffer, static_cast<size_t>(n))) : u"";
}

}  // namespace zelp::cli
