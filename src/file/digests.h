// The checksums ROM catalogues list for a file: CRC-32, MD5 and SHA-1, in
// one pass. MD5 and SHA-1 come from a well-kept library: Nettle where it is
// built (Linux), the system's CNG (bcrypt.dll) on Windows.
#pragma once

#include <cstdint>
#include <string>

#include "common/language.h"
#include "file/xfile.h"

namespace zelp {

struct Digests {
  uint32_t crc32 = 0;
  uint8_t md5[16] = {};
  uint8_t sha1[20] = {};
};

// Whether this build has MD5 and SHA-1.
bool HaveDigests();

// The checksums of `file` from its start to its end; false when it cannot
// be read (or this build has no MD5 and SHA-1).
bool DigestFile(CKOVA_xFile& file, Digests& d);

// "CRC-32 1A2B3C4D, MD5 …, SHA-1 …" (hexadecimal, as catalogues write them).
std::u16string DigestText(const Digests& d);

// What a list of checksums is of: "this file (past its header)", "结果", …
enum class Digested { kThisFile, kResult };
std::u16string DigestLabel(Digested what, bool pastHeader, Language language);

}  // namespace zelp
