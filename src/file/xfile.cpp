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
  if (!Seek(position)) return -1;
  return Write(buffer, count);
}

int zelp::SetSize(CKOVA_xFile& file, int64_t size) {
  if (!file.Seek(size)) return 0;
  return file.SetEnd() ? 1 : 0;
}

uint32_t Crc32OfFile(CKOVA_xFile& file) {
  if (!file.IsOpen()) return 0;
  int64_t saved = 0;
  file.Tell(saved);
  file.Seek(0);
  int64_t size = 0;
  file.GetSize(size);
  uint32_t result = 0;
  if (size > 0) {
    const int64_t chunkMax = zelp::kCrcReadSize;
    size_t bufSize = static_cast<size_t>(size < chunkMax ? size : chunkMax);
    std::unique_ptr<unsigned char[]> buf(new unsigned char[bufSize]);
    _m_CRC32 crc;
    int64_t remaining = size;
    bool ok = true;
    while (ok && remaining > 0) {
      uint32_t chunk = static_cast<uint32_t>(remaining < chunkMax ? remaining : chunkMax);
      uint32_t got = 0;
      // A platform read may return less than asked: read on until the chunk
      // is whole, and give up on an error or an early end of file.
      while (got < chunk) {
        uint32_t n = file.Read(buf.get() + got, chunk - got);
        if (n == 0) {
          ok = false;
          break;
        }
        got += n;
      }
      if (!ok) break;
      crc.Update(buf.get(), chunk);
      remaining -= chunk;
    }
    result = ok ? crc.Final() : 0;
  }
  file.Seek(saved);
  return result;
}
