#include "engine/journal.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/format.h"
#include "file/crc32.h"

namespace zelp {

namespace {

constexpr char kMagic2[8] = {'Z', 'E', 'L', 'P', 'J', 'R', 'N', '2'};
constexpr char kMagic1[8] = {'Z', 'E', 'L', 'P', 'J', 'R', 'N', '1'};
constexpr uint64_t kEndMark = ~uint64_t{0};
constexpr uint32_t kChunk = 1 << 20;  // old bytes per entry at most
constexpr uint32_t kEntryHead = 12;   // position + length
constexpr uint32_t kMaxNameUnits = 4096;

// Writes through a buffer, keeping the running CRC of everything written.
class JournalOut {
 public:
  explicit JournalOut(CKOVA_xFile& file) : file_(file) { buf_.reserve(kChunk * 2); }
  void Put(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
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
    Drain();
    uint8_t b[4];
    PutLe32(b, crc_ ^ 0xFFFFFFFFu);
    buf_.insert(buf_.end(), b, b + 4);
    ok_ = ok_ && WriteAll(file_, buf_.data(), buf_.size());
    return ok_;
  }

 private:
  // The CRC over whole buffers: many small puts each hashed alone cost
  // more than the writing.
  void Drain() {
    crc_ = Crc32Update(crc_, buf_.data(), buf_.size());
    ok_ = ok_ && WriteAll(file_, buf_.data(), buf_.size());
    buf_.clear();
  }
  CKOVA_xFile& file_;
  std::vector<uint8_t> buf_;
  uint32_t crc_ = 0xFFFFFFFFu;
  bool ok_ = true;
};

// Reads the journal through a buffer, keeping the running CRC and the
// offset of what was read.
class JournalIn {
 public:
  explicit JournalIn(CKOVA_xFile& file) : file_(file), buf_(new uint8_t[kBuf]) {}
  bool Get(void* data, size_t n) {
    auto* out = static_cast<uint8_t*>(data);
    while (n > 0) {
      if (pos_ == len_) {
        len_ = ReadFull(file_, buf_.get(), kBuf);
        pos_ = 0;
        if (len_ == 0) return false;
      }
      size_t take = std::min(n, len_ - pos_);
      crc_ = Crc32Update(crc_, buf_.get() + pos_, take);
      if (out) std::memcpy(out, buf_.get() + pos_, take), out += take;
      pos_ += take, n -= take, offset_ += take;
    }
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
  int64_t offset() const { return offset_; }
  bool AtEnd() {
    if (pos_ < len_) return false;
    uint8_t b;
    return file_.Read(&b, 1) == 0;
  }

 private:
  static constexpr size_t kBuf = 1 << 16;
  CKOVA_xFile& file_;
  std::unique_ptr<uint8_t[]> buf_;
  size_t pos_ = 0, len_ = 0;
  int64_t offset_ = 0;
  uint32_t crc_ = 0xFFFFFFFFu;
};

int64_t HeadSize(const std::u16string& name) {
  return 8 + 8 + 8 + 4 + 8 + 8 + 4 + 2 * static_cast<int64_t>(name.size());
}

int64_t JournalSize(const ChangePlan& plan, const std::u16string& name) {
  int64_t size = HeadSize(name) + kEntryHead + 4;
  for (const ByteRange& r : plan.ranges) {
    int64_t n = r.end - r.at;
    size += n + (n + kChunk - 1) / kChunk * kEntryHead;
  }
  return size;
}

bool WriteJournal(CKOVA_xFile& file, CKOVA_xFile& target, const ChangePlan& plan,
                  const FileIdentity& id, const std::u16string& name) {
  JournalOut out(file);
  out.Put(kMagic2, 8);
  out.Put64(static_cast<uint64_t>(plan.oldSize));
  out.Put64(static_cast<uint64_t>(plan.finalSize));
  out.Put32(plan.oldCrc);
  out.Put64(id.volume);
  out.Put64(id.index);
  out.Put32(static_cast<uint32_t>(name.size()));
  for (char16_t c : name) {
    uint8_t b[2];
    PutLe16(b, c);
    out.Put(b, 2);
  }
  // Ranges come in file order, mostly close together: the target is read in
  // whole chunks and each range taken from them.
  std::unique_ptr<uint8_t[]> buf(new uint8_t[kChunk]);
  int64_t bufAt = 0;
  size_t bufLen = 0;
  for (const ByteRange& r : plan.ranges) {
    for (int64_t at = r.at; at < r.end;) {
      uint32_t n = static_cast<uint32_t>(std::min<int64_t>(r.end - at, kChunk));
      if (at < bufAt || at + n > bufAt + static_cast<int64_t>(bufLen)) {
        bufAt = at;
        bufLen = target.Seek(at) ? ReadFull(target, buf.get(), kChunk) : 0;
        if (bufLen < n) return false;
      }
      out.Put64(static_cast<uint64_t>(at));
      out.Put32(n);
      out.Put(buf.get() + (at - bufAt), n);
      at += n;
    }
  }
  out.Put64(kEndMark);
  out.Put32(0);
  return out.Finish() && file.Flush();
}

// Writes every entry's old bytes back and gives the target its old size.
bool PutBack(CKOVA_xFile& journal, const JournalContents& j, CKOVA_xFile& target) {
  std::unique_ptr<uint8_t[]> buf(new uint8_t[kChunk]);
  for (const JournalEntry& e : j.entries) {
    if (!journal.Seek(e.bytesAt) || !ReadExact(journal, buf.get(), e.length) ||
        target.WriteAt(e.at, buf.get(), e.length) != e.length)
      return false;
  }
  return SetSize(target, j.oldSize) && target.Flush();
}

}  // namespace

// The ranges.

void RangeSet::Add(int64_t at, int64_t end) {
  if (at >= end) return;
  // Consecutive records mostly continue or overlap the last range.
  if (!ranges_.empty() && at >= ranges_.back().at && at <= ranges_.back().end + gap_) {
    ranges_.back().end = std::max(ranges_.back().end, end);
    return;
  }
  ranges_.push_back({at, end});
  // Half of them afterwards, so that this is not done again at once.
  if (ranges_.size() >= kMaxRanges) Compact(kMaxRanges / 2);
}

void RangeSet::Compact(size_t most) {
  auto before = [](const ByteRange& a, const ByteRange& b) { return a.at < b.at; };
  // They mostly come in order: checked in one pass, sorted only when not.
  if (!std::is_sorted(ranges_.begin(), ranges_.end(), before))
    std::sort(ranges_.begin(), ranges_.end(), before);
  for (;;) {
    size_t n = 0;
    for (const ByteRange& r : ranges_) {
      if (n > 0 && r.at <= ranges_[n - 1].end + gap_)
        ranges_[n - 1].end = std::max(ranges_[n - 1].end, r.end);
      else
        ranges_[n++] = r;
    }
    ranges_.resize(n);
    if (n <= most) break;
    gap_ *= 4;  // still too many: join ranges farther apart
  }
}

std::vector<ByteRange> RangeSet::Take(int64_t limit) {
  Compact(kMaxRanges);
  std::vector<ByteRange> out;
  out.swap(ranges_);
  size_t n = 0;
  for (const ByteRange& r : out) {
    if (r.at >= limit) break;
    out[n++] = {r.at, std::min(r.end, limit)};
  }
  out.resize(n);
  gap_ = 16;
  return out;
}

// One run's journal.

Journal::Begun Journal::Begin(const ChangePlan& plan, Unjournalled& why) {
  why = Unjournalled{};
  FileIdentity id;
  std::u16string name;
  if (spot_ && !spot_->Target(id, name)) {
    why.Set(Remark::kNoIdentity);
  } else if (spot_) {
    const int64_t size = JournalSize(plan, name);
    const int64_t growth = std::max<int64_t>(0, plan.finalSize - plan.oldSize);
    int64_t inside = 0;
    for (const ByteRange& r : plan.secured) inside += std::min(r.end, plan.oldSize) - r.at;
    // Counted before the journal takes its share (a file system may report
    // its free space late): the journal, the growth, and the writes inside
    // the file twice (where blocks are copied on write, once for the run
    // and once for putting it back), with a margin for the file system.
    const uint64_t need =
        static_cast<uint64_t>(size + growth + 2 * inside + growth / 32) + (1 << 20);
    uint64_t free = 0;
    if (spot_->FreeSpace(free) && free < need)
      why.Set(Remark::kNoSpace);
    else
      file_ = spot_->Create(size, why);
    bool fits = file_ && target_.SecureWrites(plan.secured);
    if (file_ && !fits)
      why.Set(Remark::kNoSpace);
    else if (file_ && !WriteJournal(*file_, target_, plan, id, name))
      why.Set(Remark::kNotWritten);
    else if (file_ && !spot_->Publish())
      why.Set(Remark::kNotDurable);
    else if (file_)
      return active_ = true, Begun::kJournalled;
    bool safe = !file_ || spot_->Discard();
    file_ = nullptr;
    if (!safe) return Begun::kNoSpace;  // a journal that could undo the run might stay
  }
  return target_.SecureWrites(plan.secured) ? Begun::kWithout : Begun::kNoSpace;
}

bool Journal::Commit(bool& stays) {
  stays = false;
  if (!active_) return true;
  active_ = false;
  return spot_->Retire(stays);
}

bool Journal::RollBack() {
  if (!active_) return false;
  JournalContents j;
  if (!file_->Seek(0) || !ReadJournal(*file_, j) || !PutBack(*file_, j, target_)) return false;
  active_ = false;
  bool stays;
  spot_->Retire(stays);
  return true;
}

// Reading.

bool ReadJournal(CKOVA_xFile& file, JournalContents& j) {
  int64_t size = -1;
  file.GetSize(size);
  if (size == 0) return j.empty = true;
  JournalIn in(file);
  char magic[8];
  uint64_t oldSize = 0, finalSize = 0, lowest = 0, highest = 0;
  uint32_t units = 0;
  if (!in.Get(magic, 8)) return false;
  if (std::memcmp(magic, kMagic2, 8) == 0) {
    j.version = 2;
    if (!in.Get64(oldSize) || !in.Get64(finalSize) || !in.Get32(j.oldCrc) ||
        !in.Get64(j.id.volume) || !in.Get64(j.id.index))
      return false;
    lowest = std::min(oldSize, finalSize);
    highest = std::max(oldSize, finalSize);
  } else if (std::memcmp(magic, kMagic1, 8) == 0) {
    j.version = 1;
    if (!in.Get64(oldSize) || !in.Get64(lowest) || !in.Get64(highest) || !in.Get64(finalSize))
      return false;
  } else {
    return false;
  }
  const uint64_t kMaxSize = uint64_t{1} << 62;
  if (oldSize > kMaxSize || finalSize > kMaxSize || highest > kMaxSize || lowest > highest ||
      !in.Get32(units) || units > kMaxNameUnits)
    return false;
  j.oldSize = static_cast<int64_t>(oldSize);
  j.finalSize = static_cast<int64_t>(finalSize);
  j.lowest = static_cast<int64_t>(lowest);
  j.highest = static_cast<int64_t>(highest);
  j.name.resize(units);
  for (char16_t& c : j.name) {
    uint8_t b[2];
    if (!in.Get(b, 2)) return false;
    c = static_cast<char16_t>(Le16(b));
  }
  // Entries lie inside the old size, in order, apart; no more of them than
  // a run writes (its ranges, each cut in pieces of at most kChunk).
  const size_t maxEntries = RangeSet::kMaxRanges * 2 + static_cast<size_t>(oldSize / kChunk);
  int64_t end = 0;
  for (;;) {
    uint64_t at = 0;
    uint32_t len = 0;
    if (!in.Get64(at) || !in.Get32(len)) return false;
    if (at == kEndMark) {
      if (len != 0) return false;
      break;
    }
    if (len == 0 || len > kChunk || at > oldSize || len > oldSize - at ||
        static_cast<int64_t>(at) < end || j.entries.size() >= maxEntries)
      return false;
    j.entries.push_back({static_cast<int64_t>(at), len, in.offset()});
    if (!in.Get(nullptr, len)) return false;
    end = static_cast<int64_t>(at + len);
  }
  uint32_t stored = 0, crc = in.crc();
  return in.Get32(stored) && stored == crc && in.AtEnd();
}

uint32_t RolledBackView::Read(void* buffer, uint32_t count) {
  if (pos_ >= j_.oldSize) return 0;
  uint32_t n = static_cast<uint32_t>(std::min<int64_t>(count, j_.oldSize - pos_));
  auto* out = static_cast<uint8_t*>(buffer);
  if (!target_.Seek(pos_) || !ReadExact(target_, out, n)) return 0;
  const int64_t from = pos_, to = pos_ + n;
  auto it =
      std::upper_bound(j_.entries.begin(), j_.entries.end(), from,
                       [](int64_t at, const JournalEntry& e) { return at < e.at + e.length; });
  for (; it != j_.entries.end() && it->at < to; ++it) {
    int64_t a = std::max(from, it->at), b = std::min(to, it->at + it->length);
    if (!journal_.Seek(it->bytesAt + (a - it->at)) ||
        !ReadExact(journal_, out + (a - from), static_cast<size_t>(b - a)))
      return 0;
  }
  pos_ += n;
  return n;
}

// Recovery.

namespace {

enum class Verdict { kApply, kFinished, kForeign };

// Names as the platform compares them: without regard to case on Windows.
bool SameName(const std::u16string& a, const std::u16string& b) {
#ifdef _WIN32
  auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [&](char16_t x, char16_t y) { return fold(x) == fold(y); });
#else
  return a == b;
#endif
}

Verdict Judge(JournalSpot& spot, CKOVA_xFile& journal, const JournalContents& j,
              CKOVA_xFile& target) {
  int64_t size = -1;
  target.GetSize(size);
  FileIdentity id;
  std::u16string name;
  bool known = spot.Target(id, name);
  if (j.version == 1) {
    // An older release's journal: bound by the name and a window of sizes.
    if (!known || !SameName(name, j.name) || size < j.lowest || size > j.highest)
      return Verdict::kForeign;
    return j.finalSize < j.oldSize && size == j.finalSize ? Verdict::kFinished : Verdict::kApply;
  }
  if (!known || id != j.id) return Verdict::kForeign;
  // The cut to a smaller size is the run's last change, after everything
  // else reached the disk.
  if (j.finalSize < j.oldSize && size == j.finalSize) return Verdict::kFinished;
  if (size < j.oldSize || size > std::max(j.oldSize, j.finalSize)) return Verdict::kForeign;
  // Put back, it must be exactly the file the run began with: then nothing
  // outside the ranges was changed by anyone else.
  RolledBackView view(target, journal, j);
  uint32_t crc = 0;
  if (!view.WholeCrc32(crc) || crc != j.oldCrc) return Verdict::kForeign;
  return Verdict::kApply;
}

}  // namespace

Recovery RecoverFromJournal(JournalSpot& spot, CKOVA_xFile& target, bool dryRun) {
  Recovery r;
  CKOVA_xFile* file = nullptr;
  Trust trust = spot.OpenFound(file);
  if (trust == Trust::kMissing) return r;
  r.journal = spot.FoundName();
  auto setAside = [&](Recovered why) {
    spot.CloseFound();
    r.state = dryRun || spot.SetAsideFound(r.aside) ? why : Recovered::kStuck;
    return r;
  };
  if (trust == Trust::kUntrusted) return setAside(Recovered::kUntrusted);
  JournalContents j;
  if (!ReadJournal(*file, j)) return setAside(Recovered::kDamaged);
  if (j.empty) {  // emptied by a run that finished: nothing to say
    spot.CloseFound();
    if (!dryRun) spot.RemoveFound();
    return Recovery{};
  }
  switch (Judge(spot, *file, j, target)) {
    case Verdict::kForeign: return setAside(Recovered::kForeign);
    case Verdict::kFinished:
      spot.CloseFound();
      if (!dryRun) spot.RemoveFound();
      r.state = Recovered::kFinished;
      return r;
    case Verdict::kApply: break;
  }
  r.state = Recovered::kRolledBack;
  if (dryRun) {  // left open, for a view of the target put back
    r.file = file;
    r.contents = std::move(j);
    return r;
  }
  bool back = PutBack(*file, j, target);
  spot.CloseFound();
  // Put back but still there, it could undo the next run: nothing more is done.
  if (!back)
    r.state = Recovered::kFailed;
  else if (!spot.RemoveFound())
    r.state = Recovered::kKept;
  return r;
}

}  // namespace zelp
