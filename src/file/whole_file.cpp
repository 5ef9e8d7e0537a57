#include "file/whole_file.h"

#include "file/file.h"

#if defined(__unix__) && !defined(__EMSCRIPTEN__)
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/text.h"
#include "file/posix_io.h"
#define ZELP_MAP_FILES 1
#endif

namespace zelp {

#ifdef ZELP_MAP_FILES
// The mapping watched, and the file as it was when mapped: a file cut short
// inside its last page or written over faults nothing.
struct WholeFile::Watch : posix::FaultWatch {
  int fd = -1;
  struct stat was = {};
  ~Watch() {
    if (fd >= 0) ::close(fd);
  }
  bool Changed() const {
    struct stat now;
    return Faulted() || ::fstat(fd, &now) != 0 || now.st_size != was.st_size ||
           now.st_mtim.tv_sec != was.st_mtim.tv_sec || now.st_mtim.tv_nsec != was.st_mtim.tv_nsec;
  }
};
#else
struct WholeFile::Watch {};
#endif

WholeFile::WholeFile() = default;

WholeFile::~WholeFile() {
#ifdef ZELP_MAP_FILES
  watch_.reset();
  if (mapped_) ::munmap(mapped_, size_);
#endif
}

bool WholeFile::Changed() const {
#ifdef ZELP_MAP_FILES
  return watch_ && watch_->Changed();
#else
  return false;
#endif
}

bool WholeFile::Load(const std::u16string& path, int64_t limit, bool& tooLarge) {
  tooLarge = false;
  CKOVA_File file;
  if (!Open(path.c_str(), file, kModeRead, kShareRead)) return false;
  int64_t size = -1;
  file.GetSize(size);
  if (size < 0) return false;
  if (size > limit) return tooLarge = true, false;
  size_ = static_cast<size_t>(size);
#ifdef ZELP_MAP_FILES
  std::string native;
  if (size_ > 0 && PathToNative(path, native)) {
    int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_size == size) {
      void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
      if (p != MAP_FAILED) mapped_ = p;
    }
    // Someone may cut the file short while it is mapped: without the watch
    // that would end the process.
    if (mapped_) {
      watch_ = std::make_unique<Watch>();
      watch_->fd = fd, watch_->was = st, fd = -1;
      if (!watch_->Start(mapped_, size_)) {
        watch_.reset();
        ::munmap(mapped_, size_);
        mapped_ = nullptr;
      }
    }
    if (fd >= 0) ::close(fd);
    if (mapped_) {
      data_ = static_cast<const uint8_t*>(mapped_);
      return true;
    }
  }
#endif
  copy_.resize(size_);
  data_ = copy_.data();
  return ReadExact(file, copy_.data(), size_);
}

}  // namespace zelp
