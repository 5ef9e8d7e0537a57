// Reads the record stream through a buffer: one platform read serves many
// small records instead of three or four reads per record.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

#include "file/xfile.h"

namespace zelp {

class StreamReader {
 public:
  explicit StreamReader(CKOVA_xFile& file, uint32_t capacity = 1 << 18)
      : file_(file), buf_(new uint8_t[capacity]), capacity_(capacity) {}

  // Copies up to `n` bytes; fewer only at the end of the file or on an error.
  uint32_t Read(void* dst, uint32_t n) {
    auto* out = static_cast<uint8_t*>(dst);
    uint32_t done = 0;
    while (done < n) {
      if (pos_ == len_ && !Fill()) break;
      uint32_t take = len_ - pos_ < n - done ? len_ - pos_ : n - done;
      std::memcpy(out + done, buf_.get() + pos_, take);
      pos_ += take;
      done += take;
    }
    return done;
  }

 private:
  bool Fill() {
    if (done_) return false;
    pos_ = 0;
    len_ = file_.Read(buf_.get(), capacity_);
    if (len_ == 0) done_ = true;
    return len_ != 0;
  }

  CKOVA_xFile& file_;
  std::unique_ptr<uint8_t[]> buf_;
  uint32_t capacity_;
  uint32_t pos_ = 0;
  uint32_t len_ = 0;
  bool done_ = false;  // the file has no more to give
};

}  // namespace zelp
