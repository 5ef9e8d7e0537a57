#include "engine/journal.h"

#include <cstring>
#include <memory>

#include "engine/format.h"
#include "file/crc32.h"

namespace zelp {

namespace {

constexpr char kMagic[8] = {'Z', 'E', 'L', 'P', 'J', 'R', 'N', '1'};
constexpr uint64_t kEndMark = ~uint64_t{0};
constexpr uint32_t kChunk = 1 << 20;  // old bytes per entry at most

// Writes through a buffer, keeping the running CRC of everything written.
class JournalOut {
 public:
  explicit JournalOut(CKOVA_xFile& file) : file_(file) { buf_.reserve(kChunk * 2); }
  void Put(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    crc_ = Crc32Update(crc_, p, n);
    buf_.insert(buf_.end(), p, p + n);
    if (buf_.size() >= kChunk) Drain();
  }
  void Put64(uint64_t v) {
    uint8_t b[8];
    PutLe64(b, v);
    Put(b, 8);
  }
  void Put32(uint32_t v) {
    uint8_t b[4];
    PutLe32(b, v);
    Put(b, 4);
  }
  bool Finish() {
    uint8_t b[4];
    PutLe32(b, crc_ ^ 0xFFFFFFFFu);
    buf_.insert(buf_.end(), b, b + 4);
    Drain();
    return ok_;
  }

 private:
  void Drain() {
    ok_ = ok_ && WriteAll(file_, buf_.data(), buf_.size());
    buf_.clear();
  }
  CKOVA_xFile& file_;
  std::vector<uint8_t> buf_;
  uint32_t crc_ = 0xFFFFFFFFu;
  bool ok_ = true;
};

// Reads the journal, keeping the running CRC of what was read.
class JournalIn {
 public:
  explicit JournalIn(CKOVA_xFile& file) : file_(file) {}
  bool Get(void* data, size_t n) {
    if (!ReadExact(file_, data, n)) return false;
    crc_ = Crc32Update(crc_, data, n);
    return true;
  }
  bool Get64(uint64_t& v) {
    uint8_t b[8];
    if (!Get(b, 8)) return false;
    v = Le64(b);
    return true;
  }
  bool Get32(uint32_t& v) {
    uint8_t b[4];
    if (!Get(b, 4)) return false;
    v = Le32(b);
    return true;
  }
  uint32_t crc() const { return crc_ ^ 0xFFFFFFFFu; }

 private:
  CKOVA_xFile& file_;
  uint32_t crc_ = 0xFFFFFFFFu;
};

struct Head {
  uint64_t oldSize, lowest, highest, finalSize;
  std::u16string name;
};

bool ReadHead(JournalIn& in, Head& h) {
  char magic[8];
  uint32_t units = 0;
  if (!in.Get(magic, 8) || std::memcmp(magic, kMagic, 8) != 0 || !in.Get64(h.oldSize) ||
      !in.Get64(h.lowest) || !in.Get64(h.highest) || !in.Get64(h.finalSize) || !in.Get32(units) ||
      units > 4096)
    return false;
  h.name.resize(units);
  for (char16_t& c : h.name) {
    uint8_t b[2];
    if (!in.Get(b, 2)) return false;
    c = static_cast<char16_t>(Le16(b));
  }
  return true;
}

// Goes over the entries; with a target, writes each back into it.
bool Entries(JournalIn& in, CKOVA_xFile* target, const Head& h) {
  std::unique_ptr<uint8_t[]> buf(new uint8_t[kChunk]);
  for (;;) {
    uint64_t at = 0;
    uint32_t len = 0;
    if (!in.Get64(at) || !in.Get32(len)) return false;
    if (at == kEndMark) return len == 0;
    if (len > kChunk || at > h.oldSize || len > h.oldSize - at || !in.Get(buf.get(), len))
      return false;
    if (target && target->WriteAt(static_cast<int64_t>(at), buf.get(), len) != len) return false;
  }
}

}  // namespace

bool WriteJournal(JournalSpot& spot, CKOVA_xFile& target, const JournalPlan& plan) {
  CKOVA_xFile* file = spot.Create();
  if (!file) return false;
  JournalOut out(*file);
  out.Put(kMagic, 8);
  out.Put64(static_cast<uint64_t>(plan.oldSize));
  out.Put64(static_cast<uint64_t>(plan.lowest));
  out.Put64(static_cast<uint64_t>(plan.highest));
  out.Put64(static_cast<uint64_t>(plan.finalSize));
  std::u16string name = spot.TargetName();
  out.Put32(static_cast<uint32_t>(name.size()));
  for (char16_t c : name) {
    uint8_t b[2];
    PutLe16(b, c);
    out.Put(b, 2);
  }
  // Ranges mostly come in file order, close together (a patch of many small
  // records): the target is read in whole chunks, each range taken from them,
  // instead of a seek and a read per range.
  std::unique_ptr<uint8_t[]> buf(new uint8_t[kChunk]);
  int64_t bufAt = 0;
  size_t bufLen = 0;
  for (const ByteRange& r : plan.ranges) {
    for (int64_t at = r.at; at < r.end;) {
      uint32_t n = static_cast<uint32_t>(r.end - at < kChunk ? r.end - at : kChunk);
      if (at < bufAt || at + n > bufAt + static_cast<int64_t>(bufLen)) {
        bufAt = at;
        bufLen = target.Seek(at) ? ReadFull(target, buf.get(), kChunk) : 0;
        if (bufLen < n) {
          spot.Close();
          return false;
        }
      }
      out.Put64(static_cast<uint64_t>(at));
      out.Put32(n);
      out.Put(buf.get() + (at - bufAt), n);
      at += n;
    }
  }
  out.Put64(kEndMark);
  out.Put32(0);
  bool ok = out.Finish() && file->Flush();
  spot.Close();
  return ok && spot.Publish();
}

JournalState RecoverFromJournal(JournalSpot& spot, CKOVA_xFile& target) {
  spot.RemoveUnpublished();  // a run killed while writing it had not changed the target
  if (!spot.Exists()) return JournalState::kNone;
  CKOVA_xFile* file = spot.OpenToRead();
  if (!file) return JournalState::kDamaged;
  // First all of it, for its checksum; nothing is applied from a damaged one.
  Head h;
  JournalIn check(*file);
  uint32_t stored = 0;
  uint8_t b[4];
  bool whole = ReadHead(check, h) && Entries(check, nullptr, h) &&
               (stored = check.crc(), ReadExact(*file, b, 4)) && Le32(b) == stored;
  uint8_t extra;
  if (!whole || file->Read(&extra, 1) != 0) {
    spot.Close();
    return JournalState::kDamaged;
  }
  int64_t size = -1;
  target.GetSize(size);
  if (h.name != spot.TargetName() || size < static_cast<int64_t>(h.lowest) ||
      size > static_cast<int64_t>(h.highest)) {
    spot.Close();
    return JournalState::kForeign;
  }
  // The cut to a smaller size is the run's last change: a target of that
  // size has every record written and flushed.
  if (h.finalSize < h.oldSize && size == static_cast<int64_t>(h.finalSize)) {
    spot.Close();
    spot.Remove();
    return JournalState::kFinished;
  }
  JournalIn apply(*file);
  bool back = file->Seek(0) && ReadHead(apply, h) && Entries(apply, &target, h) &&
              SetSize(target, static_cast<int64_t>(h.oldSize)) && target.Flush();
  spot.Close();
  if (!back) return JournalState::kFailed;
  spot.Remove();
  return JournalState::kRolledBack;
}

}  // namespace zelp
