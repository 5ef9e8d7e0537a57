// Files that zelp writes: built under a short temporary name in the folder
// of the real output (symlinks followed, as cp does) and renamed into place
// only when complete, so that the output is never seen half-written and an
// existing one is replaced in one step. "-" streams the result to standard
// output instead.
#pragma once

#include <string>

#include "common/words.h"
#include "file/file.h"

namespace zelp {

// Standard output as an output name.
inline constexpr char16_t kStdoutName[] = u"-";

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // removes the temporary file unless committed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Resolves `path` and creates the temporary file, open for reading and
  // writing; false with the reason in `error` ("cannot create 'path'" and why).
  bool Create(const std::u16string& path, Bilingual& error);
  CKOVA_File& file() { return file_; }
  // An existing file is being replaced.
  bool replaces() const { return replaces_; }
  // Makes the temporary file a copy of `source` (open for reading, named
  // `sourcePath`), with the system's own copy where it has one (a reflink,
  // copy_file_range, CopyFileW). The file stays open for reading and writing.
  bool CopyFrom(CKOVA_File& source, const std::u16string& sourcePath);
  // Makes the data durable, closes the file and renames it to the output
  // (or copies it to standard output). With `replace` false an output that
  // has appeared meanwhile is kept and Commit fails.
  bool Commit(bool replace = true);

 private:
  void Discard();
  std::u16string final_, temp_;  // native paths, resolved
  CKOVA_File file_;
  bool created_ = false;
  bool toStdout_ = false;
  bool replaces_ = false;
};

// Why Create failed, and its words for the output `path`.
enum class CreateFault { kSpool, kCannot, kNoFolder, kNotRegular };
Bilingual CreateFaultText(CreateFault fault, const std::u16string& path);

// True when both paths name one existing file (links included).
bool SameFile(const std::u16string& a, const std::u16string& b);

}  // namespace zelp
