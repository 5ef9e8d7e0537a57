// Bytes in memory seen as a read-only file: a patch made on the fly (an IPS
// or UPS patch as a ZELP one) handed to the procedures that read files.
#pragma once

#include <cstring>
#include <vector>

#include "file/xfile.h"

namespace zelp {

class MemoryFile : public ReadOnlyView {
 public:
  explicit MemoryFile(const std::vector<uint8_t>& bytes) : b_(bytes) {}
  uint32_t Read(void* buffer, uint32_t count) override {
    if (pos_ >= static_cast<int64_t>(b_.size())) return 0;
    size_t n = std::min<size_t>(count, b_.size() - static_cast<size_t>(pos_));
    std::memcpy(buffer, b_.data() + pos_, n);
    pos_ += static_cast<int64_t>(n);
    return static_cast<uint32_t>(n);
  }
  void GetSize(int64_t& size) override { size = static_cast<int64_t>(b_.size()); }

 private:
  const std::vector<uint8_t>& b_;
};

}  // namespace zelp
