// A whole file in memory, read-only: mapped where the platform can (no copy
// and no zeroed allocation to fault in), else read into a buffer. For
// writers that compare any byte of one file with any byte of another.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelp {

class WholeFile {
 public:
  WholeFile() = default;
  ~WholeFile();
  WholeFile(const WholeFile&) = delete;
  WholeFile& operator=(const WholeFile&) = delete;

  // False when the file cannot be opened or read, or has more than `limit`
  // bytes (`tooLarge` then says so).
  bool Load(const std::u16string& path, int64_t limit, bool& tooLarge);
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  [[maybe_unused]] void* mapped_ = nullptr;  // where the platform maps files
  std::vector<uint8_t> copy_;
};

}  // namespace zelp
