#include <windows.h>

#include <vector>

#include "cli/cli.h"
#include "common/win_text.h"

namespace zelp::cli {

std::u16string OwnProgramPath() {
  std::vector<wchar_t> buffer(32768);
  DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  return n > 0 && n < buffer.size() ? std::u16string(as_u16cstr(buffer.data()), n) : u"";
}

}  // namespace zelp::cli
