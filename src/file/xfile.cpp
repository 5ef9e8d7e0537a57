#include "file/xfile.h"

#include <memory>

#include "common/text.h"
#include "file/crc32.h"

bool CKOVA_xFile::WriteText(const char16_t* text) {
  if (!text) return false;
  uint32_t bytes = static_cast<uint32_t>(zelp::WideLen(text) * sizeof(char16_t));
  if (bytes == 0) return true;
  return Write(text, bytes) == bytes;
}

int64_t CKOVA_xFile::WriteAt(int64_t position, const void* buffer, uint32_t count) {
  // Writing nothing needs no position: a file system may not reach it.
  if (count == 0) return position < 0 ? -1 : 0;
  if (!Seek(position)) return -1;
  return Write(buffer, count);
}

bool CKOVA_xFile::SecureWrites(const std::vector<zelp::ByteRange>&) { return true; }

namespace {
// Larger requests go out in pieces that a uint32_t count can carry.
constexpr size_t kPiece = size_t{1} << 30;
}  // namespace

size_t zelp::ReadFull(CKOVA_xFile& file, void* buffer, size_t count) {
  auto* p = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < count) {
    size_t want = count - done < kPiece ? count - done : kPiece;
    uint32_t got = file.Read(p + done, static_cast<uint32_t>(want));
    if (got == 0) break;
    done += got;
  }
  return done;
}

bool zelp::WriteAll(CKOVA_xFile& file, const void* data, size_t count) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (count > 0) {
    size_t want = count < kPiece ? count : kPiece;
    uint32_t put = file.Write(p, static_cast<uint32_t>(want));
    if (put == 0) return false;
    p += put;
    count -= put;
  }
  return true;
}

int zelp::SetSize(CKOVA_xFile& file, int64_t size) {
  if (!file.Seek(size)) return 0;
  return file.SetEnd() ? 1 : 0;
}

bool CKOVA_xFile::WholeCrc32(uint32_t& crc) {
  if (!IsOpen()) return false;
  int64_t saved = 0, size = -1;
  Tell(saved);
  GetSize(size);
  if (size < 0 || !Seek(0)) return false;
  _m_CRC32 running;
  bool ok = true;
  if (size > 0) {
    const int64_t chunkMax = zelp::kCrcReadSize;
    size_t bufSize = static_cast<size_t>(size < chunkMax ? size : chunkMax);
    std::unique_ptr<unsigned char[]> buf(new unsigned char[bufSize]);
    for (int64_t remaining = size; ok && remaining > 0;) {
      uint32_t chunk = static_cast<uint32_t>(remaining < chunkMax ? remaining : chunkMax);
      ok = zelp::ReadExact(*this, buf.get(), chunk);
      if (ok) running.Update(buf.get(), chunk);
      remaining -= chunk;
    }
  }
  Seek(saved);
  if (ok) crc = running.Final();
  return ok;
}

uint32_t Crc32OfFile(CKOVA_xFile& file) {
  uint32_t crc = 0;
  return file.WholeCrc32(crc) ? crc : 0;
}
