// System calls made again when a signal interrupted them before they did
// anything (as Chromium's HANDLE_EINTR).
#pragma once

#include <errno.h>

namespace zelp {

template <typename Call>
auto Retry(Call call) {
  decltype(call()) r;
  do r = call();
  while (r < 0 && errno == EINTR);
  return r;
}

}  // namespace zelp
