// A whole file in memory, read-only: mapped where the platform can (no copy
// and no zeroed allocation to fault in), else read into a buffer. For
// writers that compare any byte of one file with any byte of another.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zelp {

class WholeFile {
 public:
  WholeFile();
  ~WholeFile();
  WholeFile(const WholeFile&) = delete;
  WholeFile& operator=(const WholeFile&) = delete;

  // False when the file cannot be opened or read, or has more than `limit`
  // bytes (`tooLarge` then says so).
  bool Load(const std::u16string& path, int64_t limit, bool& tooLarge);
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  // The file was cut short while mapped: some of data() read as zeros
  // instead of ending the process. Ask once the bytes have been used.
  bool Changed() const;

 private:
  struct Watch;
  std::unique_ptr<Watch> watch_;  // over the mapping
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  [[maybe_unused]] void* mapped_ = nullptr;  // where the platform maps files
  std::vector<uint8_t> copy_;
};

}  // namespace zelp
