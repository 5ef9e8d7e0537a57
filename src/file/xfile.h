// The file interface every engine operation goes through, so that tests and
// fuzzers can put an in-memory or a failing file in place of a real one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zelp {
// A stretch of a file: bytes [at, end).
struct ByteRange {
  int64_t at, end;
};
}  // namespace zelp

class CKOVA_xFile {
 public:
  // The first ten virtual operations keep this slot order.
  virtual ~CKOVA_xFile() = default;
  // One read of up to `count` bytes; the count read, 0 on failure.
  virtual uint32_t Read(void* buffer, uint32_t count) = 0;
  // One write; the count written, 0 on failure.
  virtual uint32_t Write(const void* buffer, uint32_t count) = 0;
  virtual void Close() = 0;
  // Writes the units of `text` without its terminator; false for null text.
  virtual bool WriteText(const char16_t* text);
  // Stores the size in `size`; leaves it unchanged on failure.
  virtual void GetSize(int64_t& size) = 0;
  // Stores the position and returns 1; 0 (the position left unchanged)
  // when closed or when the platform cannot tell it.
  virtual int Tell(int64_t& position) = 0;
  // Moves to `position` from the start; false for a negative position.
  // Positions beyond the end are allowed.
  virtual bool Seek(int64_t position) = 0;
  // CRC-32 of the whole file, position preserved; 0 when closed, empty, or
  // when the file could not be read completely.
  virtual uint32_t Crc32() = 0;
  virtual bool IsOpen() = 0;

  // Operations the patch procedure needs beyond the ten above.
  // Makes the current position the end of the file (truncate or extend).
  virtual bool SetEnd() = 0;
  // Extends the file to `size` bytes with the space really allocated, so that
  // a full disk shows here and not in the middle of writing records. Never
  // shrinks; the position is unspecified afterwards.
  virtual bool Reserve(int64_t size) = 0;
  // Makes written data durable.
  virtual bool Flush() = 0;
  // Writes `count` bytes at `position`, as Seek then Write would (the
  // default does just that), in one call where the platform can. Returns
  // the count written, or -1 when the file cannot be positioned there
  // (nothing written). The file position afterwards is unspecified.
  virtual int64_t WriteAt(int64_t position, const void* buffer, uint32_t count);
  // The CRC-32 of the whole file into `crc`, position preserved; false when
  // the file could not be read completely (which says nothing about its
  // contents). Never allocates space in the file.
  virtual bool WholeCrc32(uint32_t& crc);
  // Makes sure that writing the ranges (sorted, apart; the last may lie past
  // the end, the growth to come) will need no space the disk does not have:
  // holes in them are allocated
  // without changing the size or any byte, and where the file system copies
  // on write, its free space must hold them. False when it would not; the
  // file's bytes and size are unchanged either way. The default has nothing
  // to secure.
  virtual bool SecureWrites(const std::vector<zelp::ByteRange>& ranges);
};

namespace zelp {

// Positions the file at `size` and makes that its end; 1 when both succeed.
int SetSize(CKOVA_xFile& file, int64_t size);

// A platform read may return less than asked. Reads until `count` bytes are
// in, the file ends or a read fails; returns the bytes read.
size_t ReadFull(CKOVA_xFile& file, void* buffer, size_t count);
// ReadFull that must get all `count` bytes.
inline bool ReadExact(CKOVA_xFile& file, void* buffer, size_t count) {
  return ReadFull(file, buffer, count) == count;
}
// Writes all of `data` with as many writes as it takes; false on a failure.
bool WriteAll(CKOVA_xFile& file, const void* data, size_t count);

}  // namespace zelp

// The whole-file CRC-32 over any CKOVA_xFile through Tell/Seek/GetSize/Read,
// as WholeCrc32 defines it, or 0 when the file could not be read (which can
// never match, as a CRC of 0 in a header means "no check").
uint32_t Crc32OfFile(CKOVA_xFile& file);

namespace zelp {

// A read-only file whose bytes come from elsewhere (memory, a file seen as it
// will be): it keeps the position; a view supplies Read and GetSize.
class ReadOnlyView : public CKOVA_xFile {
 public:
  uint32_t Write(const void*, uint32_t) override { return 0; }
  void Close() override {}
  int Tell(int64_t& position) override { return position = pos_, 1; }
  bool Seek(int64_t position) override { return position >= 0 && (pos_ = position, true); }
  uint32_t Crc32() override { return Crc32OfFile(*this); }
  bool IsOpen() override { return true; }
  bool SetEnd() override { return false; }
  bool Reserve(int64_t) override { return false; }
  bool Flush() override { return true; }

 protected:
  int64_t pos_ = 0;
};

}  // namespace zelp
