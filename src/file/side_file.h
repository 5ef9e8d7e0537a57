// What a journal kept beside a target needs from the platform: who a file
// is, where it really lives, a file made new and only for this run, and the
// trust to put in one that is found there.
#pragma once

#include <cstdint>
#include <string>

#include "file/file.h"

namespace zelp {

// A file's identity while it exists: device and inode on POSIX, volume serial
// number and file index on Windows. Other names of the same file share it.
struct FileIdentity {
  uint64_t volume = 0, index = 0;
  bool operator==(const FileIdentity& o) const { return volume == o.volume && index == o.index; }
  bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

bool IdentityOf(CKOVA_File& file, FileIdentity& id);

// The folder that holds the file itself, every link resolved, ending in its
// separator; `file` is the open file at `path`.
bool OwnFolderOf(const char16_t* path, CKOVA_File& file, std::u16string& folder);

// Creates `path` as a new file, read and write, for this user only; never
// through a link and never over anything already there.
bool CreateNew(const char16_t* path, CKOVA_File& file);

// Opens what is at `path` for reading when it can be trusted: a regular file
// (no link, no second name) owned by the owner of `owner` or by the user
// running. kUntrusted leaves `file` closed.
enum class Trust { kMissing, kTrusted, kUntrusted };
Trust OpenTrusted(const char16_t* path, CKOVA_File& file, CKOVA_File& owner);

// Bytes free for this user in the file system that holds `folder`.
bool FreeSpace(const char16_t* folder, uint64_t& bytes);

// Takes the space for `size` bytes at the start of a new, empty file.
bool Preallocate(CKOVA_File& file, int64_t size);

}  // namespace zelp
