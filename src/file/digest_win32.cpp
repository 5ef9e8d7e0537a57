// MD5 and SHA-1 from the system's cryptography (CNG).
#include <windows.h>
// clang-format off: bcrypt.h needs windows.h first
#include <bcrypt.h>
// clang-format on

#include "file/digest_backend.h"
#include "file/digests.h"

namespace zelp {

struct DigestBackend::State {
  BCRYPT_ALG_HANDLE alg[2] = {};
  BCRYPT_HASH_HANDLE hash[2] = {};
  ~State() {
    for (int i = 0; i < 2; ++i) {
      if (hash[i]) BCryptDestroyHash(hash[i]);
      if (alg[i]) BCryptCloseAlgorithmProvider(alg[i], 0);
    }
  }
};

DigestBackend::DigestBackend() : state_(new State) {
  const wchar_t* names[2] = {BCRYPT_MD5_ALGORITHM, BCRYPT_SHA1_ALGORITHM};
  for (int i = 0; i < 2; ++i) {
    if (BCryptOpenAlgorithmProvider(&state_->alg[i], names[i], nullptr, 0) < 0 ||
        BCryptCreateHash(state_->alg[i], &state_->hash[i], nullptr, 0, nullptr, 0, 0) < 0) {
      delete state_;
      state_ = nullptr;
      return;
    }
  }
}

DigestBackend::~DigestBackend() { delete state_; }

bool DigestBackend::Update(const uint8_t* data, size_t n) {
  for (int i = 0; i < 2; ++i)
    if (BCryptHashData(state_->hash[i], const_cast<PUCHAR>(data), static_cast<ULONG>(n), 0) < 0)
      return false;
  return true;
}

bool DigestBackend::Finish(uint8_t md5[16], uint8_t sha1[20]) {
  return BCryptFinishHash(state_->hash[0], md5, 16, 0) >= 0 &&
         BCryptFinishHash(state_->hash[1], sha1, 20, 0) >= 0;
}

bool HaveDigests() { return true; }

}  // namespace zelp
