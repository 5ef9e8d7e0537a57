// The checksums ROM catalogues list for a file: CRC-32, MD5 and SHA-1, in
// one pass. MD5 and SHA-1 come from a well-kept library: Nettle where it is
// built (Linux), the system's CNG (bcrypt.dll) on Windows.
#pragma once

#include <cstdint>
#include <string>

#include "file/xfile.h"

namespace zelp {

struct Digests {
  uint32_t crc32 = 0;
  uint8_t md5[16] = {};
  uint8_t sha1[20] = {};
};

// Whether this build has MD5 and SHA-1 (the browser's build has not).
bool HaveDigests();

// The checksums of `file` from its start to its end; false when it cannot
// be read (or this build has no MD5 and SHA-1).
bool DigestFile(CKOVA_xFile& file, Digests& d);

// "CRC-32 1A2B3C4D, MD5 …, SHA-1 …" (hexadecimal, as catalogues write them).
std::u16string DigestText(const Digests& d);

}  // namespace zelp
