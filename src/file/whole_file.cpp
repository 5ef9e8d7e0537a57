#include "file/whole_file.h"

#include "file/file.h"

#if defined(__unix__) && !defined(__EMSCRIPTEN__)
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/text.h"
#define ZELP_MAP_FILES 1
#endif

namespace zelp {

WholeFile::~WholeFile() {
#ifdef ZELP_MAP_FILES
  if (mapped_) ::munmap(mapped_, size_);
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
