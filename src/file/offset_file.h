// A file seen from a fixed offset on: what `apply --header` patches, so that
// a 512-byte copier header stays in place, untouched, in front of it.
#pragma once

#include "file/xfile.h"

namespace zelp {

class OffsetFile : public CKOVA_xFile {
 public:
  OffsetFile(CKOVA_xFile& file, int64_t offset) : f_(file), off_(offset) {}
  uint32_t Read(void* b, uint32_t n) override { return f_.Read(b, n); }
  uint32_t Write(const void* b, uint32_t n) override { return f_.Write(b, n); }
  void Close() override { f_.Close(); }
  void GetSize(int64_t& size) override {
    int64_t whole = -1;
    f_.GetSize(whole);
    if (whole >= off_) size = whole - off_;
  }
  int Tell(int64_t& position) override {
    int64_t at = 0;
    if (!f_.Tell(at)) return 0;
    position = at - off_;
    return 1;
  }
  bool Seek(int64_t position) override { return position >= 0 && f_.Seek(position + off_); }
  // At offset 0 the file's own (perhaps already known) CRC-32 serves.
  uint32_t Crc32() override { return off_ ? Crc32OfFile(*this) : f_.Crc32(); }
  bool WholeCrc32(uint32_t& crc) override {
    return off_ ? CKOVA_xFile::WholeCrc32(crc) : f_.WholeCrc32(crc);
  }
  bool IsOpen() override { return f_.IsOpen(); }
  bool SetEnd() override { return f_.SetEnd(); }
  bool Reserve(int64_t size) override { return f_.Reserve(size + off_); }
  bool Flush() override { return f_.Flush(); }
  int64_t WriteAt(int64_t at, const void* b, uint32_t n) override {
    return at < 0 ? -1 : f_.WriteAt(at + off_, b, n);
  }
  bool SecureWrites(const std::vector<ByteRange>& ranges) override {
    std::vector<ByteRange> moved(ranges);
    for (ByteRange& r : moved) r.at += off_, r.end += off_;
    return f_.SecureWrites(moved);
  }

 private:
  CKOVA_xFile& f_;
  int64_t off_;
};

}  // namespace zelp
