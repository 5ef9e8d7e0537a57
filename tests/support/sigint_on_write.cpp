// Preloaded into a zelp run (LD_PRELOAD): the run asks to be ended (SIGINT)
// at its first change of a regular file through pwrite or ftruncate (how the
// journal puts a target back), once, then the change goes on.
#include <dlfcn.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool g_raised = false;

void RaiseOnce(int fd) {
  struct stat st;
  if (g_raised || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
  g_raised = true;
  ::raise(SIGINT);
}

template <typename F>
F Real(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" ssize_t pwrite(int fd, const void* buffer, size_t count, off_t at) {
  static auto real = Real<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
  RaiseOnce(fd);
  return real(fd, buffer, count, at);
}

extern "C" int ftruncate(int fd, off_t size) {
  static auto real = Real<int (*)(int, off_t)>("ftruncate");
  RaiseOnce(fd);
  return real(fd, size);
}
