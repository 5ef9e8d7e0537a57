// The platform file: Win32 handles (file_win32.cpp) or POSIX descriptors
// (file_posix.cpp), behind CKOVA_xFile.
#pragma once

#include <cstdint>
#include <memory>

#include "file/xfile.h"
#ifndef _WIN32
#include "file/posix_io.h"
#endif

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
#ifndef _WIN32
  bool WholeCrc32(uint32_t& crc) override;
  bool SecureWrites(const std::vector<zelp::ByteRange>& ranges) override;
#endif

#ifdef _WIN32
  void* handle = nullptr;  // HANDLE; null while closed
#else
  int handle = -1;  // descriptor; -1 while closed

 private:
  // Writes inside the file go into a shared mapping of it where one can be
  // had; otherwise positioned writes that follow one another without a gap
  // are joined and written as one. Bytes between them are never read and
  // written back: another program may be changing them. Every other
  // operation settles them first; a failure there makes Flush fail.
  bool SettleWrites();
  bool FlushJoined();
  zelp::posix::MappedWriter mapped_;  // writes inside the file
  std::unique_ptr<uint8_t[]> joined_;
  int64_t joinedAt_ = 0;    // file position of joined_[0]
  uint32_t joinedLen_ = 0;  // 0 while nothing waits
  int64_t knownSize_ = -1;  // the size last seen; -1 when unknown
  zelp::posix::WritebackHints hints_;
  bool lostWrite_ = false;  // joined bytes could not be written
#endif
};

namespace zelp {

// Opens `path` into `file` (closing whatever it held first); 1 or 0.
// When the platform reports file-not-found, one more attempt is made under
// the path's short form (where the platform has short names).
int Open(const char16_t* path, CKOVA_File& file, int mode, int shareKind);

// Whether anything is at `path`; removes the file at `path`; makes the
// entries of the folder that holds `path` durable (where the platform needs
// that; Windows does it with the file's own flush).
bool PathExists(const char16_t* path);
bool RemovePath(const char16_t* path);
// Renames `from` to `to`, replacing it, in one step.
bool RenamePath(const char16_t* from, const char16_t* to);
bool SyncFolderOf(const char16_t* path);

}  // namespace zelp
