// The platform file: Win32 handles (file_win32.cpp) or POSIX descriptors
// (file_posix.cpp), behind CKOVA_xFile.
#pragma once

#include <cstdint>
#include <memory>

#include "file/xfile.h"

namespace zelp {

// Open modes.
enum : int {
  kModeRead = 1,       // read an existing file
  kModeWrite = 2,      // write an existing file
  kModeReadWrite = 3,  // read and write an existing file
  kModeCreate = 4,     // write; create, or truncate an existing file
};
// Sharing granted to others.
enum : int {
  kShareReadWrite = 1,
  kShareWrite = 2,
  kShareRead = 3,
  // anything else: none
};

}  // namespace zelp

class CKOVA_File : public CKOVA_xFile {
 public:
  CKOVA_File() = default;
  ~CKOVA_File() override;
  CKOVA_File(const CKOVA_File&) = delete;
  CKOVA_File& operator=(const CKOVA_File&) = delete;

  uint32_t Read(void* buffer, uint32_t count) override;
  uint32_t Write(const void* buffer, uint32_t count) override;
  void Close() override;
  void GetSize(int64_t& size) override;
  int Tell(int64_t& position) override;
  bool Seek(int64_t position) override;
  uint32_t Crc32() override;
  bool IsOpen() override;
  bool SetEnd() override;
  bool Reserve(int64_t size) override;
  bool Flush() override;
  int64_t WriteAt(int64_t position, const void* buffer, uint32_t count) override;

#ifdef _WIN32
  void* handle = nullptr;  // HANDLE; null while closed
#else
  int handle = -1;  // descriptor; -1 while closed

 private:
  // Small positioned writes close to one another are gathered in a copy of
  // the file's bytes and written back as one: far fewer calls, and dirty
  // pages in long runs, which the disk takes several times faster than the
  // same pages scattered. Every other operation writes the gathered bytes
  // back first; a failure there makes Flush fail.
  bool SettleWrites();
  bool GatherWrite(int64_t position, const void* buffer, uint32_t count);
  std::unique_ptr<uint8_t[]> window_;
  int64_t windowAt_ = 0;    // file position of window_[0]
  uint32_t windowLen_ = 0;  // bytes of the file in the window; 0 while none
  uint32_t dirtyFrom_ = 0;  // the written part of the window
  uint32_t dirtyTo_ = 0;
  int64_t lastEnd_ = -1;    // where the previous positioned write ended
  bool lostWrite_ = false;  // gathered bytes could not be written
#endif
};

namespace zelp {

// Opens `path` into `file` (closing whatever it held first); 1 or 0.
// When the platform reports file-not-found, one more attempt is made under
// the path's short form (where the platform has short names).
int Open(const char16_t* path, CKOVA_File& file, int mode, int shareKind);

}  // namespace zelp
