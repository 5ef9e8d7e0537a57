#include <nettle/md5.h>
#include <nettle/sha1.h>

#include "file/digest_backend.h"
#include "file/digests.h"

namespace zelp {

struct DigestBackend::State {
  md5_ctx md5;
  sha1_ctx sha1;
};

DigestBackend::DigestBackend() : state_(new State) {
  md5_init(&state_->md5);
  sha1_init(&state_->sha1);
}

DigestBackend::~DigestBackend() { delete state_; }

bool DigestBackend::Update(const uint8_t* data, size_t n) {
  md5_update(&state_->md5, n, data);
  sha1_update(&state_->sha1, n, data);
  return true;
}

bool DigestBackend::Finish(uint8_t md5[16], uint8_t sha1[20]) {
  md5_digest(&state_->md5, MD5_DIGEST_SIZE, md5);
  sha1_digest(&state_->sha1, SHA1_DIGEST_SIZE, sha1);
  return true;
}

bool HaveDigests() { return true; }

}  // namespace zelp
