// Files that zelp writes: built under a temporary name beside the output and
// renamed into place only when complete, so that the output is never seen
// half-written and an existing one is replaced in one step.
#pragma once

#include <string>

#include "file/file.h"

namespace zelp::author {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // removes the temporary file unless committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the temporary file beside `path` and opens it for writing.
  bool Create(const std::u16string& path);
  CKOVA_File& file() { return file_; }
  // Makes the data durable, closes the file and renames it to the output.
  bool Commit();

 private:
  std::u16string path_, temp_;
  CKOVA_File file_;
  bool created_ = false;
};

// Platform parts (out_file_posix.cpp, out_file_win32.cpp).
// Creates a new, empty file with a name not in use beside `target` (same
// folder) and returns its path.
bool CreateTempBeside(const std::u16string& target, std::u16string& tempPath);
// Renames `from` to `to`, replacing `to`, durably where the platform can.
bool MoveIntoPlace(const std::u16string& from, const std::u16string& to);
bool RemoveFile(const std::u16string& path);
// True when both paths name one existing file (links included).
bool SameFile(const std::u16string& a, const std::u16string& b);

}  // namespace zelp::author
