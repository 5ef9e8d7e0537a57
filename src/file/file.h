// The platform file: Win32 handles (file_win32.cpp) or POSIX descriptors
// (file_posix.cpp), behind CKOVA_xFile.
#pragma once

#include <cstdint>

#include "file/xfile.h"

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
#ifndef _WIN32
  int64_t WriteAt(int64_t position, const void* buffer, uint32_t count) override;
#endif

#ifdef _WIN32
  void* handle = nullptr;  // HANDLE; null while closed
#else
  int handle = -1;  // descriptor; -1 while closed
#endif
};

// Opens `path` into `file` (closing whatever it held first); 1 or 0.
// When the platform reports file-not-found, one more attempt is made under
// the path's short form (where the platform has short names).
int Open(const char16_t* path, CKOVA_File& file, int mode, int shareKind);
