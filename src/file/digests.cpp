#include "file/digests.h"

#include <memory>

#include "common/text.h"
#include "file/crc32.h"
#include "file/digest_backend.h"

namespace zelp {

namespace {

std::u16string Hex(const uint8_t* p, size_t n) {
  static const char16_t kDigits[] = u"0123456789abcdef";
  std::u16string out;
  for (size_t i = 0; i < n; ++i) out += {kDigits[p[i] >> 4], kDigits[p[i] & 15]};
  return out;
}

}  // namespace

bool DigestFile(CKOVA_xFile& file, Digests& d) {
  DigestBackend hashes;
  if (!hashes.ok() || !file.Seek(0)) return false;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kCrcReadSize]);
  uint32_t crc = 0xFFFFFFFFu;
  for (;;) {
    size_t n = ReadFull(file, buffer.get(), kCrcReadSize);
    crc = Crc32Update(crc, buffer.get(), n);
    if (!hashes.Update(buffer.get(), n)) return false;
    if (n < static_cast<size_t>(kCrcReadSize)) break;
  }
  int64_t size = -1, at = -2;
  file.GetSize(size);
  if (!file.Tell(at) || at != size) return false;  // a read failed before the end
  d.crc32 = crc ^ 0xFFFFFFFFu;
  return hashes.Finish(d.md5, d.sha1);
}

std::u16string DigestText(const Digests& d) {
  return u"CRC-32 " + Hex32(d.crc32) + u", MD5 " + Hex(d.md5, 16) + u", SHA-1 " + Hex(d.sha1, 20);
}

std::u16string DigestLabel(Digested what, bool pastHeader, Language language) {
  const bool zh = language == Language::kChinese, result = what == Digested::kResult;
  std::u16string label =
      zh ? (result ? u"结果" : u"这个文件") : (result ? u"the result" : u"this file");
  if (pastHeader) label += zh ? u"（不含文件头）" : u" (past its header)";
  return label;
}

}  // namespace zelp
