// Reads the record stream through a buffer: one platform read serves many
// small records instead of three or four reads per record. The checking pass
// notes what it read, so that the writing pass applies only what was checked
// even when someone changes the patch file in between.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "file/crc32.h"
#include "file/xfile.h"

namespace zelp {

// The record stream as the checking pass read it: the bytes themselves while
// they are at most kKeepChecked, else the length and CRC-32 of every piece.
struct CheckedStream {
  static constexpr uint64_t kKeepChecked = uint64_t{64} << 20;
  std::vector<uint8_t> bytes;
  bool kept = true;
  std::vector<uint32_t> pieceLengths, pieceCrcs;
};

class StreamReader {
 public:
  static constexpr uint32_t kPiece = 1 << 18;

  // Reads `file` from its position; with `note`, notes what was read there
  // (keeping the bytes up to `keepMax`).
  explicit StreamReader(CKOVA_xFile& file, CheckedStream* note = nullptr,
                        uint64_t keepMax = CheckedStream::kKeepChecked)
      : file_(file), note_(note), keepMax_(keepMax) {}
  // Reads what `checked` noted again: from memory when it kept the bytes, else
  // from `file` (positioned at the stream), each piece compared with its
  // note before any of it is given out. A piece that differs ends the stream
  // there, as a damaged file would.
  StreamReader(CKOVA_xFile& file, const CheckedStream& checked) : file_(file), checked_(&checked) {}
  ~StreamReader() {
    if (buf_ && !Spare()) Spare() = std::move(buf_);
  }
  StreamReader(const StreamReader&) = delete;
  StreamReader& operator=(const StreamReader&) = delete;

  // Copies up to `n` bytes; fewer only at the end of the stream or on an error.
  uint32_t Read(void* dst, uint32_t n) {
    auto* out = static_cast<uint8_t*>(dst);
    uint32_t done = 0;
    while (done < n) {
      if (pos_ == len_ && !Fill()) break;
      uint32_t take = len_ - pos_ < n - done ? static_cast<uint32_t>(len_ - pos_) : n - done;
      std::memcpy(out + done, data_ + pos_, take);
      pos_ += take;
      done += take;
    }
    consumed_ += done;
    return done;
  }

  // The next `n` bytes: in place while the buffer holds all of them (valid
  // until the next call), else copied into `spare`; null when the stream
  // ends first. Most records are parsed without a copy this way.
  const uint8_t* Take(uint32_t n, uint8_t* spare) {
    if (n == 0 || len_ - pos_ < n) return Copied(n, spare);
    const uint8_t* p = data_ + pos_;
    pos_ += n;
    consumed_ += n;
    return p;
  }

  // Bytes given out so far.
  uint64_t consumed() const { return consumed_; }

  // Whether a piece read again differed from the one checked.
  bool changed() const { return changed_; }

 private:
  bool Fill() {
    if (done_) return false;
    done_ = true;
    pos_ = 0;
    if (checked_ && checked_->kept) {  // everything at once, from memory
      data_ = checked_->bytes.data();
      len_ = checked_->bytes.size();
      return len_ != 0;
    }
    if (!buf_)
      buf_ = Spare() ? std::move(Spare()) : std::unique_ptr<uint8_t[]>(new uint8_t[kPiece]);
    data_ = buf_.get();
    len_ = ReadFull(file_, buf_.get(), kPiece);
    if (len_ == 0) return false;
    uint32_t crc = Crc32Of(data_, len_);
    if (checked_) {
      size_t i = piece_++;
      if (i >= checked_->pieceCrcs.size() || checked_->pieceLengths[i] != len_ ||
          checked_->pieceCrcs[i] != crc) {
        changed_ = true;
        len_ = 0;
        return false;
      }
    } else if (note_) {
      note_->pieceLengths.push_back(static_cast<uint32_t>(len_));
      note_->pieceCrcs.push_back(crc);
      if (note_->kept && note_->bytes.size() + len_ <= keepMax_) {
        note_->bytes.insert(note_->bytes.end(), data_, data_ + len_);
      } else if (note_->kept) {
        note_->kept = false;
        std::vector<uint8_t>().swap(note_->bytes);
      }
    }
    done_ = false;
    return true;
  }

  // Take's rare way, apart so that the common one stays small enough to inline.
  const uint8_t* Copied(uint32_t n, uint8_t* spare) {
    return Read(spare, n) == n ? spare : nullptr;
  }

  // The piece buffer of the last reader, kept for the next one: allocating
  // it anew made up half of what a small run cost (under a fuzzer's
  // sanitizers). The engine runs on one thread.
  static std::unique_ptr<uint8_t[]>& Spare() {
    static std::unique_ptr<uint8_t[]> spare;
    return spare;
  }

  CKOVA_xFile& file_;
  CheckedStream* note_ = nullptr;
  const CheckedStream* checked_ = nullptr;
  uint64_t keepMax_ = 0;
  std::unique_ptr<uint8_t[]> buf_;
  const uint8_t* data_ = nullptr;
  size_t pos_ = 0;
  size_t len_ = 0;
  size_t piece_ = 0;
  uint64_t consumed_ = 0;
  bool done_ = false;  // the stream has no more to give
  bool changed_ = false;
};

}  // namespace zelp
