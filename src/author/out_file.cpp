#include "author/out_file.h"

namespace zelp::author {

OutputFile::~OutputFile() {
  file_.Close();
  if (created_) RemoveFile(temp_);
}

bool OutputFile::Create(const std::u16string& path) {
  path_ = path;
  if (!CreateTempBeside(path, temp_)) return false;
  created_ = true;
  // Nobody else may write it while it is being built.
  return Open(temp_.c_str(), file_, kModeCreate, kShareRead) == 1;
}

bool OutputFile::Commit() {
  if (!created_ || !file_.IsOpen() || !file_.Flush()) return false;
  file_.Close();
  if (!MoveIntoPlace(temp_, path_)) return false;
  created_ = false;
  return true;
}

}  // namespace zelp::author
