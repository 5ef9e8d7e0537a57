// MD5 and SHA-1 over a stream, from the platform's library
// (digest_nettle.cpp, digest_win32.cpp, or none: digest_none.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelp {

class DigestBackend {
 public:
  DigestBackend();
  ~DigestBackend();
  DigestBackend(const DigestBackend&) = delete;
  DigestBackend& operator=(const DigestBackend&) = delete;
  bool ok() const { return state_ != nullptr; }
  bool Update(const uint8_t* data, size_t n);
  bool Finish(uint8_t md5[16], uint8_t sha1[20]);

 private:
  struct State;
  State* state_ = nullptr;
};

}  // namespace zelp
