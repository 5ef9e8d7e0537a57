#include "engine/foreign.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/format.h"
#include "file/crc32.h"

namespace zelp {

namespace {

constexpr size_t kBuffer = 1 << 20;
constexpr int64_t kFooter = 12;  // UPS and BPS: source, target and patch CRC-32s

// What the patch, source and result streams below share: a file and the
// buffer they go through it with.
class Buffered {
 protected:
  explicit Buffered(CKOVA_xFile& file) : file_(file), buf_(new uint8_t[kBuffer]) {}
  CKOVA_xFile& file_;
  std::unique_ptr<uint8_t[]> buf_;
};

// The patch read from its start through a buffer, with the CRC-32 of all it
// has handed out; reads stop at `limit`.
class PatchIn : Buffered {
 public:
  PatchIn(CKOVA_xFile& file, int64_t limit) : Buffered(file), limit_(limit) {
    failed_ = !file.Seek(0);
  }
  int64_t at() const { return at_; }
  uint32_t crc() {
    SyncCrc();
    return crc_ ^ 0xFFFFFFFFu;
  }
  bool failed() const { return failed_; }
  void set_limit(int64_t limit) { limit_ = limit; }

  // All `n` bytes, or false (the limit, the end of the file or a failure).
  bool Take(void* dst, size_t n) {
    if (limit_ - at_ < static_cast<int64_t>(n)) return false;
    auto* out = static_cast<uint8_t*>(dst);
    while (n > 0) {
      if (pos_ == len_ && !Fill()) return false;
      size_t take = std::min(n, len_ - pos_);
      std::memcpy(out, buf_.get() + pos_, take);
      pos_ += take, at_ += static_cast<int64_t>(take), out += take, n -= take;
    }
    return true;
  }
  bool Byte(uint8_t& b) {
    if (pos_ < len_ && at_ < limit_) {
      b = buf_[pos_++];
      ++at_;
      return true;
    }
    return Take(&b, 1);
  }
  // A variable-length number; kNone, kCutShort or kNumber.
  ForeignFault Number(uint64_t& value) {
    uint64_t data = 0, shift = 1;
    for (;;) {
      uint8_t x;
      if (!Byte(x)) return failed_ ? ForeignFault::kRead : ForeignFault::kCutShort;
      uint64_t part;
      if (__builtin_mul_overflow(uint64_t{x & 0x7Fu}, shift, &part) ||
          __builtin_add_overflow(data, part, &data))
        return ForeignFault::kNumber;
      if (x & 0x80) break;
      if (shift > (UINT64_MAX >> 7)) return ForeignFault::kNumber;
      shift <<= 7;
      if (__builtin_add_overflow(data, shift, &data)) return ForeignFault::kNumber;
    }
    value = data;
    return ForeignFault::kNone;
  }
  // kCutShort at the end of the file, kRead after a failed read.
  ForeignFault Cut() const { return failed_ ? ForeignFault::kRead : ForeignFault::kCutShort; }

 private:
  // The CRC-32 runs behind the reads, over whole stretches of the buffer.
  void SyncCrc() {
    crc_ = Crc32Update(crc_, buf_.get() + crcFrom_, pos_ - crcFrom_);
    crcFrom_ = pos_;
  }
  bool Fill() {
    SyncCrc();
    uint32_t got = file_.Read(buf_.get(), kBuffer);
    if (got == 0) {
      int64_t size = 0;
      file_.GetSize(size);
      if (at_ < size) failed_ = true;  // the file has more: reading it failed
      return false;
    }
    pos_ = 0, len_ = got, crcFrom_ = 0;
    return true;
  }

  int64_t limit_;
  size_t pos_ = 0, len_ = 0, crcFrom_ = 0;
  int64_t at_ = 0;
  uint32_t crc_ = 0xFFFFFFFFu;
  bool failed_ = false;
};

inline uint32_t Be(const uint8_t* p, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | p[i];
  return v;
}

// What a walk over the patch calls for each step; Inspect counts, Produce
// writes. Every call returns kNone to go on, or the fault that ends it.
struct NoVisit {
  ForeignFault IpsRecord(uint32_t, const uint8_t*, uint32_t) { return ForeignFault::kNone; }
  ForeignFault IpsRun(uint32_t, uint32_t, uint8_t) { return ForeignFault::kNone; }
  ForeignFault Copy(uint64_t, uint64_t) { return ForeignFault::kNone; }  // source at the same place
  ForeignFault Xor(uint64_t, uint8_t) { return ForeignFault::kNone; }
  ForeignFault Literal(const uint8_t*, size_t) { return ForeignFault::kNone; }
  ForeignFault SourceCopy(uint64_t, uint64_t) { return ForeignFault::kNone; }
  ForeignFault TargetCopy(uint64_t, uint64_t) { return ForeignFault::kNone; }
};

template <class Visit>
ForeignFault WalkIps(PatchIn& in, ForeignInfo& info, uint8_t* data, Visit& visit) {
  uint8_t field[5];
  if (!in.Take(field, 5) || std::memcmp(field, "PATCH", 5) != 0) return ForeignFault::kMagic;
  for (;;) {
    info.at = in.at();
    if (!in.Take(field, 3)) return in.Cut();
    uint32_t offset = Be(field, 3);
    // "EOF" ends the patch when nothing or exactly a size follows; anything
    // else after it is a record at that offset.
    bool maybeEnd = offset == kIpsEofMark;
    int64_t left = info.patchSize - in.at();
    if (maybeEnd && left == 0) return ForeignFault::kNone;
    if (maybeEnd && left == 3) {
      if (!in.Take(field, 3)) return in.Cut();
      info.cutTo = Be(field, 3);
      return ForeignFault::kNone;
    }
    ForeignFault cut = maybeEnd ? ForeignFault::kTrailing : in.Cut();
    if (!in.Take(field, 2)) return cut;
    uint32_t length = Be(field, 2), written = length;
    ForeignFault fault;
    if (length == 0) {
      if (!in.Take(field, 3)) return cut;
      written = Be(field, 2);
      fault = visit.IpsRun(offset, written, field[2]);
    } else {
      if (!in.Take(data, length)) return cut;
      fault = visit.IpsRecord(offset, data, length);
    }
    if (fault != ForeignFault::kNone) return fault;
    if (written) info.extent = std::max<int64_t>(info.extent, int64_t{offset} + written);
    ++info.steps;
  }
}

// The three CRC-32s at the end of a UPS or BPS patch, the last one over
// everything before it.
ForeignFault ReadFooter(PatchIn& in, ForeignInfo& info) {
  uint8_t field[4];
  info.at = in.at();
  in.set_limit(info.patchSize);
  if (!in.Take(field, 4)) return in.Cut();
  uint32_t source = Le32(field);
  if (!in.Take(field, 4)) return in.Cut();
  uint32_t target = Le32(field);
  uint32_t computed = in.crc();
  if (!in.Take(field, 4)) return in.Cut();
  info.sourceCrc = source, info.targetCrc = target;
  if (Le32(field) != computed) {
    info.at = info.patchSize - 4;
    return ForeignFault::kPatchCrc;
  }
  return ForeignFault::kNone;
}

template <class Visit>
ForeignFault WalkUps(PatchIn& in, ForeignInfo& info, Visit& visit) {
  uint8_t magic[4];
  if (!in.Take(magic, 4) || std::memcmp(magic, "UPS1", 4) != 0) return ForeignFault::kMagic;
  in.set_limit(info.patchSize - kFooter);
  info.checksSource = true;
  ForeignFault f;
  if ((f = in.Number(info.sourceSize)) != ForeignFault::kNone) return f;
  if ((f = in.Number(info.targetSize)) != ForeignFault::kNone) return f;
  const uint64_t most = std::max(info.sourceSize, info.targetSize);
  uint64_t pos = 0;
  while (in.at() < info.patchSize - kFooter) {
    info.at = in.at();
    uint64_t skip;
    if ((f = in.Number(skip)) != ForeignFault::kNone) return f;
    if (skip > most - pos) return ForeignFault::kOutside;
    if ((f = visit.Copy(pos, skip)) != ForeignFault::kNone) return f;
    pos += skip;
    for (uint8_t x = 1; x != 0; ++pos) {
      if (!in.Byte(x)) return in.Cut();
      // The closing zero may stand just past the larger file.
      if (pos > most || (x != 0 && pos == most)) return ForeignFault::kOutside;
      if ((f = visit.Xor(pos, x)) != ForeignFault::kNone) return f;
    }
    ++info.steps;
  }
  if (pos < info.targetSize && (f = visit.Copy(pos, info.targetSize - pos)) != ForeignFault::kNone)
    return f;
  return ReadFooter(in, info);
}

// Moves a BPS relative offset by the signed `delta` (low bit the sign); the
// result must leave `length` bytes below `end`.
bool Relative(uint64_t& offset, uint64_t delta, uint64_t length, uint64_t end) {
  uint64_t step = delta >> 1;
  if (delta & 1) {
    if (step > offset) return false;
    offset -= step;
  } else {
    if (step > end - offset) return false;
    offset += step;
  }
  return length <= end - offset;
}

template <class Visit>
ForeignFault WalkBps(PatchIn& in, ForeignInfo& info, uint8_t* data, Visit& visit) {
  uint8_t magic[4];
  if (!in.Take(magic, 4) || std::memcmp(magic, "BPS1", 4) != 0) return ForeignFault::kMagic;
  const int64_t bodyEnd = info.patchSize - kFooter;
  in.set_limit(bodyEnd);
  info.checksSource = true;
  ForeignFault f;
  if ((f = in.Number(info.sourceSize)) != ForeignFault::kNone) return f;
  if ((f = in.Number(info.targetSize)) != ForeignFault::kNone) return f;
  if ((f = in.Number(info.metadataSize)) != ForeignFault::kNone) return f;
  info.at = in.at();
  if (info.metadataSize > static_cast<uint64_t>(std::max<int64_t>(0, bodyEnd - in.at())))
    return ForeignFault::kCutShort;
  info.metadata.clear();
  for (uint64_t left = info.metadataSize; left > 0;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(left, 65536));
    if (!in.Take(data, n)) return in.Cut();
    size_t keep = std::min(n, kMaxMetadataKept - std::min(kMaxMetadataKept, info.metadata.size()));
    info.metadata.append(reinterpret_cast<const char*>(data), keep);
    left -= n;
  }
  uint64_t out = 0, sourceRel = 0, targetRel = 0;
  while (in.at() < bodyEnd) {
    info.at = in.at();
    uint64_t command;
    if ((f = in.Number(command)) != ForeignFault::kNone) return f;
    uint64_t length = (command >> 2) + 1;
    if (length > info.targetSize - out) return ForeignFault::kOutside;
    switch (command & 3) {
      case 0:  // source read: the source's bytes at the same place
        if (out > info.sourceSize || length > info.sourceSize - out) return ForeignFault::kOutside;
        f = visit.Copy(out, length);
        break;
      case 1:  // target read: bytes from the patch
        for (uint64_t left = length; left > 0 && f == ForeignFault::kNone;) {
          size_t n = static_cast<size_t>(std::min<uint64_t>(left, 65536));
          if (!in.Take(data, n)) return in.Cut();
          f = visit.Literal(data, n);
          left -= n;
        }
        break;
      case 2: {  // source copy: from anywhere in the source
        uint64_t delta;
        if ((f = in.Number(delta)) != ForeignFault::kNone) return f;
        if (!Relative(sourceRel, delta, length, info.sourceSize)) return ForeignFault::kOutside;
        f = visit.SourceCopy(sourceRel, length);
        sourceRel += length;
        break;
      }
      default: {  // target copy: from what is already written, maybe overlapping it
        uint64_t delta;
        if ((f = in.Number(delta)) != ForeignFault::kNone) return f;
        if (!Relative(targetRel, delta, length, info.targetSize) || targetRel >= out)
          return ForeignFault::kOutside;
        f = visit.TargetCopy(targetRel, length);
        targetRel += length;
        break;
      }
    }
    if (f != ForeignFault::kNone) return f;
    out += length;
    ++info.steps;
  }
  info.at = in.at();
  if (out != info.targetSize) return ForeignFault::kOutside;
  return ReadFooter(in, info);
}

template <class Visit>
ForeignFault Walk(PatchIn& in, ForeignInfo& info, Visit& visit) {
  std::unique_ptr<uint8_t[]> data(new uint8_t[65536]);
  info.steps = 0, info.extent = 0, info.cutTo = -1;
  ForeignFault f = ForeignFault::kMagic;
  switch (info.kind) {
    case PatchKind::kIps: f = WalkIps(in, info, data.get(), visit); break;
    case PatchKind::kUps: f = WalkUps(in, info, visit); break;
    case PatchKind::kBps: f = WalkBps(in, info, data.get(), visit); break;
    default: break;
  }
  if (f == ForeignFault::kNone && in.at() != info.patchSize) f = ForeignFault::kTrailing;
  if (in.failed()) f = ForeignFault::kRead;
  return f;
}

// The source read at any position; past its end it reads as zeros when
// `zeros`, else a read there fails.
class SourceAt : Buffered {
 public:
  SourceAt(CKOVA_xFile& file, bool zeros) : Buffered(file), zeros_(zeros) { file.GetSize(size_); }
  bool Read(uint64_t pos, uint8_t* dst, size_t n) {
    while (n > 0) {
      if (pos >= static_cast<uint64_t>(size_)) {
        if (!zeros_) return false;
        std::memset(dst, 0, n);
        return true;
      }
      if (pos < winAt_ || pos >= winAt_ + winLen_) {
        if (!file_.Seek(static_cast<int64_t>(pos))) return false;
        size_t want = static_cast<size_t>(std::min<uint64_t>(kBuffer, size_ - pos));
        winLen_ = ReadFull(file_, buf_.get(), want);
        if (winLen_ != want) return winLen_ = 0, false;
        winAt_ = pos;
      }
      size_t take = static_cast<size_t>(std::min<uint64_t>(n, winAt_ + winLen_ - pos));
      std::memcpy(dst, buf_.get() + (pos - winAt_), take);
      pos += take, dst += take, n -= take;
    }
    return true;
  }

 private:
  bool zeros_;
  int64_t size_ = 0;
  uint64_t winAt_ = 0;
  size_t winLen_ = 0;
};

// The result written from its start, through a buffer, with its CRC-32;
// what it already holds can be read back (a BPS target copy).
class ResultOut : Buffered {
 public:
  ResultOut(CKOVA_xFile& file, uint64_t limit) : Buffered(file), limit_(limit) {}
  uint64_t size() const { return flushed_ + len_; }
  uint32_t crc() const { return crc_ ^ 0xFFFFFFFFu; }
  // Bytes at the end; those past the limit are dropped.
  bool Put(const uint8_t* data, size_t n) {
    n = static_cast<size_t>(std::min<uint64_t>(n, limit_ - std::min(limit_, size())));
    while (n > 0) {
      if (len_ == kBuffer && !Flush()) return false;
      size_t take = std::min(n, kBuffer - len_);
      std::memcpy(buf_.get() + len_, data, take);
      crc_ = Crc32Update(crc_, data, take);
      len_ += take, data += take, n -= take;
    }
    return true;
  }
  bool ReadBack(uint64_t pos, uint8_t* dst, size_t n) {
    if (pos >= flushed_) {
      std::memcpy(dst, buf_.get() + (pos - flushed_), n);
      return true;
    }
    if (!Flush() || !file_.Seek(static_cast<int64_t>(pos))) return false;
    return ReadExact(file_, dst, n);
  }
  bool Flush() {
    if (len_ && file_.WriteAt(static_cast<int64_t>(flushed_), buf_.get(),
                              static_cast<uint32_t>(len_)) != static_cast<int64_t>(len_))
      return false;
    flushed_ += len_, len_ = 0;
    return true;
  }

 private:
  uint64_t limit_;
  size_t len_ = 0;
  uint64_t flushed_ = 0;
  uint32_t crc_ = 0xFFFFFFFFu;
};

// Writes the result of a UPS or a BPS patch in order.
struct StreamWriter : NoVisit {
  SourceAt source;
  ResultOut out;
  std::unique_ptr<uint8_t[]> piece{new uint8_t[65536]};
  uint64_t limit;
  StreamWriter(CKOVA_xFile& src, CKOVA_xFile& dst, bool zeros, uint64_t end)
      : source(src, zeros), out(dst, end), limit(end) {}

  ForeignFault SourceCopy(uint64_t from, uint64_t length) {
    while (length > 0) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(length, 65536));
      if (!source.Read(from, piece.get(), n)) return ForeignFault::kSourceRead;
      if (!out.Put(piece.get(), n)) return ForeignFault::kWrite;
      from += n, length -= n;
    }
    return ForeignFault::kNone;
  }
  ForeignFault Copy(uint64_t at, uint64_t length) {
    // A UPS skip past the target's end only moves along.
    uint64_t end = std::min<uint64_t>(at + length, std::max<uint64_t>(at, limit));
    return SourceCopy(at, end - at);
  }
  ForeignFault Xor(uint64_t at, uint8_t x) {
    uint8_t b;
    if (!source.Read(at, &b, 1)) return ForeignFault::kSourceRead;
    b ^= x;
    return out.Put(&b, 1) ? ForeignFault::kNone : ForeignFault::kWrite;
  }
  ForeignFault Literal(const uint8_t* data, size_t n) {
    return out.Put(data, n) ? ForeignFault::kNone : ForeignFault::kWrite;
  }
  ForeignFault TargetCopy(uint64_t from, uint64_t length) {
    // An overlapping copy repeats what it has just written: copy at most
    // the distance at a time.
    while (length > 0) {
      uint64_t distance = out.size() - from;
      size_t n = static_cast<size_t>(std::min<uint64_t>({length, distance, 65536}));
      if (!out.ReadBack(from, piece.get(), n)) return ForeignFault::kWrite;
      if (!out.Put(piece.get(), n)) return ForeignFault::kWrite;
      from += n, length -= n;
    }
    return ForeignFault::kNone;
  }
};

// Writes the records of an IPS patch into a copy of the source.
struct IpsWriter : NoVisit {
  CKOVA_xFile& out;
  std::unique_ptr<uint8_t[]> run{new uint8_t[65536]};
  explicit IpsWriter(CKOVA_xFile& file) : out(file) {}
  ForeignFault IpsRecord(uint32_t at, const uint8_t* data, uint32_t n) {
    return out.WriteAt(at, data, n) == n ? ForeignFault::kNone : ForeignFault::kWrite;
  }
  ForeignFault IpsRun(uint32_t at, uint32_t n, uint8_t value) {
    std::memset(run.get(), value, n);
    return IpsRecord(at, run.get(), n);
  }
};

bool CopyWhole(CKOVA_xFile& from, CKOVA_xFile& to, int64_t size) {
  std::unique_ptr<uint8_t[]> buf(new uint8_t[kBuffer]);
  if (!from.Seek(0)) return false;
  for (int64_t at = 0; at < size;) {
    size_t n = static_cast<size_t>(std::min<int64_t>(kBuffer, size - at));
    if (!ReadExact(from, buf.get(), n)) return false;
    if (to.WriteAt(at, buf.get(), static_cast<uint32_t>(n)) != static_cast<int64_t>(n))
      return false;
    at += static_cast<int64_t>(n);
  }
  return true;
}

// Gathers changed bytes into ZELP absolute records (runs of consecutive
// positions, at most 65,535 bytes each).
struct ZelpRecords {
  std::vector<uint8_t>& out;
  uint64_t at = 0;
  size_t start = 0, length = 0;  // the open record: where it is in `out`, its data
  explicit ZelpRecords(std::vector<uint8_t>& zelp) : out(zelp) {}
  void Put(uint64_t position, const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      if (length == 0 || position + i != at + length || length == kMaxRecordData) {
        Close();
        start = out.size();
        out.resize(out.size() + 11);
        out[start] = kRecAbsolute;
        PutLe64(&out[start + 1], position + i);
        at = position + i;
      }
      out.push_back(data[i]);
      ++length;
    }
  }
  void Close() {
    if (length) PutLe16(&out[start + 9], static_cast<uint16_t>(length));
    length = 0;
  }
};

// An IPS record by record, clipped to the size after patching.
struct IpsAsZelp : NoVisit {
  ZelpRecords records;
  int64_t limit;
  std::unique_ptr<uint8_t[]> run{new uint8_t[65536]};
  IpsAsZelp(std::vector<uint8_t>& zelp, int64_t end) : records(zelp), limit(end) {}
  ForeignFault IpsRecord(uint32_t at, const uint8_t* data, uint32_t n) {
    if (at < limit) records.Put(at, data, static_cast<size_t>(std::min<int64_t>(n, limit - at)));
    records.Close();  // a later record may overwrite this one: never merge them
    return ForeignFault::kNone;
  }
  ForeignFault IpsRun(uint32_t at, uint32_t n, uint8_t value) {
    std::memset(run.get(), value, n);
    return IpsRecord(at, run.get(), n);
  }
};

// A UPS in order: the XORed bytes as records, and the CRC-32 of the whole
// result, read from the source as it goes.
struct UpsAsZelp : NoVisit {
  ZelpRecords records;
  SourceAt source;
  uint64_t limit;
  uint32_t crc = 0xFFFFFFFFu;
  std::unique_ptr<uint8_t[]> piece{new uint8_t[65536]};
  UpsAsZelp(std::vector<uint8_t>& zelp, CKOVA_xFile& src, uint64_t end)
      : records(zelp), source(src, true), limit(end) {}
  ForeignFault Copy(uint64_t at, uint64_t length) {
    length = std::min(length, limit - std::min(limit, at));
    while (length > 0) {
      size_t n = static_cast<size_t>(std::min<uint64_t>(length, 65536));
      if (!source.Read(at, piece.get(), n)) return ForeignFault::kSourceRead;
      crc = Crc32Update(crc, piece.get(), n);
      at += n, length -= n;
    }
    return ForeignFault::kNone;
  }
  ForeignFault Xor(uint64_t at, uint8_t x) {
    if (at >= limit) return ForeignFault::kNone;
    uint8_t b;
    if (!source.Read(at, &b, 1)) return ForeignFault::kSourceRead;
    b ^= x;
    crc = Crc32Update(crc, &b, 1);
    if (x) records.Put(at, &b, 1);
    return ForeignFault::kNone;
  }
};

}  // namespace

PatchKind SniffPatch(CKOVA_xFile& file) {
  uint8_t head[10] = {};
  if (!file.Seek(0)) return PatchKind::kUnknown;
  size_t n = ReadFull(file, head, sizeof head);
  auto starts = [&](const char* magic) {
    size_t len = std::strlen(magic);
    return n >= len && std::memcmp(head, magic, len) == 0;
  };
  if (starts("KOVA-PATCH")) return PatchKind::kZelp;
  if (starts("PATCH")) return PatchKind::kIps;
  if (starts("UPS1")) return PatchKind::kUps;
  if (starts("BPS1")) return PatchKind::kBps;
  return PatchKind::kUnknown;
}

const char16_t* KindName(PatchKind kind) {
  switch (kind) {
    case PatchKind::kZelp: return u"ZELP";
    case PatchKind::kIps: return u"IPS";
    case PatchKind::kUps: return u"UPS";
    case PatchKind::kBps: return u"BPS";
    default: return u"unknown";
  }
}

ForeignInfo InspectForeign(CKOVA_xFile& patch, PatchKind kind) {
  ForeignInfo info;
  info.kind = kind;
  patch.GetSize(info.patchSize);
  PatchIn in(patch, info.patchSize);
  NoVisit none;
  info.fault = in.failed() ? ForeignFault::kRead : Walk(in, info, none);
  info.wholeCrc = in.crc();
  return info;
}

int64_t ForeignResultSize(const ForeignInfo& info, int64_t sourceSize) {
  if (info.kind != PatchKind::kIps) return static_cast<int64_t>(info.targetSize);
  return info.cutTo >= 0 ? info.cutTo : std::max(sourceSize, info.extent);
}

ForeignFault ProduceForeign(CKOVA_xFile& patch, const ForeignInfo& info, CKOVA_xFile& source,
                            CKOVA_xFile& out, uint32_t& resultCrc) {
  if (info.fault != ForeignFault::kNone) return info.fault;
  ForeignInfo again;
  again.kind = info.kind;
  again.patchSize = info.patchSize;
  int64_t size = -1;
  patch.GetSize(size);
  if (size != info.patchSize) return ForeignFault::kChanged;
  PatchIn in(patch, info.patchSize);
  ForeignFault f;
  if (info.kind == PatchKind::kIps) {
    int64_t sourceSize = -1;
    source.GetSize(sourceSize);
    if (sourceSize < 0 || !CopyWhole(source, out, sourceSize)) return ForeignFault::kSourceRead;
    IpsWriter writer(out);
    f = Walk(in, again, writer);
    if (f == ForeignFault::kNone && in.crc() != info.wholeCrc) f = ForeignFault::kChanged;
    if (f != ForeignFault::kNone) return f;
    if (!SetSize(out, ForeignResultSize(again, sourceSize)) || !out.WholeCrc32(resultCrc))
      return ForeignFault::kWrite;
    return ForeignFault::kNone;
  }
  int64_t sourceSize = -1;
  source.GetSize(sourceSize);
  if (sourceSize != static_cast<int64_t>(info.sourceSize)) return ForeignFault::kSourceSize;
  StreamWriter writer(source, out, info.kind == PatchKind::kUps, info.targetSize);
  f = Walk(in, again, writer);
  if (f == ForeignFault::kNone && in.crc() != info.wholeCrc) f = ForeignFault::kChanged;
  if (f != ForeignFault::kNone) return f;
  if (!writer.out.Flush() || writer.out.size() != info.targetSize ||
      !SetSize(out, static_cast<int64_t>(info.targetSize)))
    return ForeignFault::kWrite;
  resultCrc = writer.out.crc();
  return resultCrc == info.targetCrc ? ForeignFault::kNone : ForeignFault::kResultCrc;
}

ForeignFault ForeignAsZelp(CKOVA_xFile& patch, const ForeignInfo& info, CKOVA_xFile& source,
                           std::vector<uint8_t>& zelp, uint32_t& resultCrc) {
  if (info.fault != ForeignFault::kNone) return info.fault;
  int64_t sourceSize = -1;
  source.GetSize(sourceSize);
  if (sourceSize < 0) return ForeignFault::kSourceRead;
  if (info.checksSource && sourceSize != static_cast<int64_t>(info.sourceSize))
    return ForeignFault::kSourceSize;
  const int64_t size = ForeignResultSize(info, sourceSize);
  zelp.assign(kHeaderSize, 0);
  std::memcpy(zelp.data(), "KOVA-PATCH3.0", 13);
  PutLe64(&zelp[kOffTargetSize], static_cast<uint64_t>(size));
  PutLe32(&zelp[kOffTargetCrc], info.checksSource ? info.sourceCrc : 0);
  PutLe32(&zelp[kOffRecords], kHeaderSize);
  ForeignInfo again;
  again.kind = info.kind;
  again.patchSize = info.patchSize;
  PatchIn in(patch, info.patchSize);
  ForeignFault f = ForeignFault::kMagic;
  resultCrc = 0;
  if (info.kind == PatchKind::kIps) {
    IpsAsZelp visit(zelp, size);
    f = Walk(in, again, visit);
    visit.records.Close();
  } else if (info.kind == PatchKind::kUps) {
    UpsAsZelp visit(zelp, source, info.targetSize);
    f = Walk(in, again, visit);
    visit.records.Close();
    resultCrc = visit.crc ^ 0xFFFFFFFFu;
    if (f == ForeignFault::kNone && resultCrc != info.targetCrc) f = ForeignFault::kResultCrc;
  }
  if (f == ForeignFault::kNone && in.crc() != info.wholeCrc) f = ForeignFault::kChanged;
  zelp.push_back(kRecEnd);
  return f;
}

size_t PutVarint(uint8_t* out, uint64_t value) {
  size_t n = 0;
  for (;;) {
    uint8_t x = value & 0x7F;
    value >>= 7;
    if (value == 0) {
      out[n++] = 0x80 | x;
      return n;
    }
    out[n++] = x;
    --value;
  }
}

}  // namespace zelp
