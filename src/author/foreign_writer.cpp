#include "author/foreign_writer.h"

#include <algorithm>
#include <cstring>

#include "common/text.h"
#include "engine/format.h"
#include "file/crc32.h"

namespace zelp::author {

namespace {

void Put(std::vector<uint8_t>& out, const void* data, size_t n) {
  auto* p = static_cast<const uint8_t*>(data);
  out.insert(out.end(), p, p + n);
}

void PutNumber(std::vector<uint8_t>& out, uint64_t value) {
  uint8_t field[10];
  Put(out, field, PutVarint(field, value));
}

void PutBe(std::vector<uint8_t>& out, uint32_t value, int n) {
  for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutCrc(std::vector<uint8_t>& out, uint32_t crc) {
  uint8_t field[4];
  PutLe32(field, crc);
  Put(out, field, 4);
}

// The source, target and patch CRC-32s that end UPS and BPS patches.
void PutFooter(std::vector<uint8_t>& out, size_t patchStart, const Bytes& a, const Bytes& b) {
  PutCrc(out, Crc32Of(a.data(), a.size()));
  PutCrc(out, Crc32Of(b.data(), b.size()));
  PutCrc(out, Crc32Of(out.data() + patchStart, out.size() - patchStart));
}

// How many bytes from a and b are equal, at most `limit`.
size_t MatchLength(const uint8_t* a, const uint8_t* b, size_t limit) {
  size_t n = 0;
  while (n + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) return n + static_cast<size_t>(__builtin_ctzll(x ^ y) / 8);  // little-endian
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// --- IPS ---------------------------------------------------------------

// One record, or a run when `run`; never at the offset that spells "EOF",
// which some readers take for the end: such a record starts a byte earlier.
void PutIpsRecord(std::vector<uint8_t>& out, const Bytes& b, uint32_t at, uint32_t n, bool run,
                  ForeignStats& stats) {
  if (at == kIpsEofMark) {
    PutBe(out, at - 1, 3);
    PutBe(out, 2, 2);
    Put(out, &b[at - 1], 2);
    ++stats.steps, stats.literalBytes += 2;
    if (--n == 0) return;
    ++at;
  }
  PutBe(out, at, 3);
  if (run) {
    PutBe(out, 0, 2);
    PutBe(out, n, 2);
    out.push_back(b[at]);
    stats.literalBytes += 1;
  } else {
    PutBe(out, n, 2);
    Put(out, &b[at], n);
    stats.literalBytes += n;
  }
  ++stats.steps;
}

bool EncodeIps(const Bytes& a, const Bytes& b, std::vector<uint8_t>& out, ForeignStats& stats,
               Bilingual& error) {
  const size_t n = b.size();
  auto differs = [&](size_t i) { return i >= a.size() || a[i] != b[i]; };
  Put(out, "PATCH", 5);
  for (size_t i = 0; i < n;) {
    if (!differs(i)) {
      i += 1 + (i + 1 < a.size() ? MatchLength(&a[i + 1], &b[i + 1], std::min(a.size(), n) - i - 1)
                                 : 0);
      continue;
    }
    if (i >= static_cast<size_t>(kIpsLimit)) {
      error = Fill2(
          u"IPS cannot hold changes at offsets of 16 MiB or more (the first is at "
          u"byte {0}); write a UPS or BPS patch instead",
          u"IPS 补丁放不下 16 MiB 及以后位置的改动（第一处在第 {0} 字节）；"
          u"请改做 UPS 或 BPS 补丁",
          {Decimal(static_cast<uint64_t>(i))});
      return false;
    }
    // A record runs on over short stretches of equal bytes (cheaper than a
    // new record's 5 bytes), up to 65,535 bytes, and not past 16 MiB.
    const size_t limit = std::min({n, i + 65535, static_cast<size_t>(kIpsLimit) + 65535});
    size_t end = i, equal = 0;
    while (end < limit && equal <= 5) {
      equal = differs(end) ? 0 : equal + 1;
      ++end;
    }
    end -= equal;
    // Inside it, long runs of one value become run records.
    size_t literal = i;
    for (size_t j = i; j < end;) {
      size_t k = j + 1;
      while (k < end && b[k] == b[j]) ++k;
      if (k - j >= 9) {
        if (literal < j)
          PutIpsRecord(out, b, static_cast<uint32_t>(literal), static_cast<uint32_t>(j - literal),
                       false, stats);
        PutIpsRecord(out, b, static_cast<uint32_t>(j), static_cast<uint32_t>(k - j), true, stats);
        literal = k;
      }
      j = k;
    }
    if (literal < end)
      PutIpsRecord(out, b, static_cast<uint32_t>(literal), static_cast<uint32_t>(end - literal),
                   false, stats);
    i = end;
  }
  Put(out, "EOF", 3);
  if (b.size() < a.size()) {
    if (b.size() >= static_cast<size_t>(kIpsLimit)) {
      error = Fill2(
          u"IPS cannot cut a file to 16 MiB or more (the modified file has {0} "
          u"bytes); write a UPS or BPS patch instead",
          u"IPS 补丁无法把文件截短到 16 MiB 或更大（修改后的文件有 {0} 字节）；"
          u"请改做 UPS 或 BPS 补丁",
          {Decimal(static_cast<uint64_t>(b.size()))});
      return false;
    }
    PutBe(out, static_cast<uint32_t>(b.size()), 3);
  }
  return true;
}

// --- UPS ---------------------------------------------------------------

void EncodeUps(const Bytes& a, const Bytes& b, std::vector<uint8_t>& out, ForeignStats& stats) {
  const size_t start = out.size();
  Put(out, "UPS1", 4);
  PutNumber(out, a.size());
  PutNumber(out, b.size());
  const size_t most = std::max(a.size(), b.size()), common = std::min(a.size(), b.size());
  auto x = [&](size_t i) {
    return static_cast<uint8_t>((i < a.size() ? a[i] : 0) ^ (i < b.size() ? b[i] : 0));
  };
  size_t from = 0;  // where the last hunk ended
  for (size_t i = 0; i < most;) {
    if (i < common && a[i] == b[i]) {
      i += MatchLength(&a[i], &b[i], common - i);
      continue;
    }
    if (x(i) == 0) {
      ++i;
      continue;
    }
    PutNumber(out, i - from);
    for (; i < most && x(i) != 0; ++i) out.push_back(x(i)), ++stats.literalBytes;
    out.push_back(0);  // the closing zero stands for one more, unchanged, byte
    from = ++i;
    ++stats.steps;
  }
  PutFooter(out, start, a, b);
}

// --- BPS ---------------------------------------------------------------

// Positions of 8-byte strings by their hash, every `step` bytes: the last
// one seen wins. The table is made at the first Add.
class Index {
 public:
  Index(size_t expected, size_t step, int maxBits) : step_(step) {
    bits_ = 10;
    while ((size_t{1} << bits_) < expected / step && bits_ < maxBits) ++bits_;
  }
  bool empty() const { return slots_.empty(); }
  static uint64_t Key(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v * 0x9E3779B97F4A7C15ull;
  }
  void Add(const uint8_t* p, size_t at) {
    if (slots_.empty()) slots_.assign(size_t{1} << bits_, 0);
    slots_[Key(p) >> (64 - bits_)] = static_cast<uint32_t>(at / step_ + 1);
  }
  // A position that may start the same 8 bytes, or false.
  bool Find(const uint8_t* p, size_t& at) const {
    if (slots_.empty()) return false;
    uint64_t s = slots_[Key(p) >> (64 - bits_)];
    if (s == 0) return false;
    at = (s - 1) * step_;
    return true;
  }

 private:
  std::vector<uint32_t> slots_;
  int bits_;
  size_t step_;
};

class BpsEncoder {
 public:
  BpsEncoder(const Bytes& a, const Bytes& b, std::vector<uint8_t>& out, ForeignStats& stats)
      : a_(a),
        b_(b),
        out_(out),
        stats_(stats),
        source_(a.size(), kStep, 26),
        target_(b.size(), kStep, 22) {}

  void Run() {
    const size_t n = b_.size();
    size_t t = 0;
    while (t < n) {
      // The source's bytes at the same place cost a single byte.
      size_t same = t < a_.size() ? MatchLength(&a_[t], &b_[t], std::min(a_.size(), n) - t) : 0;
      if (same >= 4) {
        Literal(t);
        Command(0, same);
        t += same;
        literalFrom_ = t;
        continue;
      }
      size_t from = 0, length = 0, back = 0;
      int action = 0;
      // The source is indexed only once literal bytes pile up: scattered
      // small changes, the common case, never pay for it.
      if (source_.empty() && t - literalFrom_ >= kIndexAfter)
        for (size_t p = 0; p + 8 <= a_.size(); p += kStep) source_.Add(&a_[p], p);
      if (t + 8 <= n) {
        Consider(a_, source_, t, 2, from, length, back, action);
        Consider(b_, target_, t, 3, from, length, back, action);
      }
      if (length >= kMinCopy) {
        t -= back;  // the match took back bytes that were to be literal
        Literal(t);
        Copy(action, from - back, length + back);
        t += length + back;
        continue;
      }
      if (t % kStep == 0 && t + 8 <= n) target_.Add(&b_[t], t);
      ++t;
    }
    Literal(n);
  }

 private:
  static constexpr size_t kStep = 8;
  static constexpr size_t kMinCopy = 12;
  static constexpr size_t kIndexAfter = 64;

  // Looks up b[t..] in `index` over `in`; keeps the longer match.
  void Consider(const Bytes& in, const Index& index, size_t t, int action, size_t& from,
                size_t& length, size_t& back, int& action_) {
    size_t at;
    if (!index.Find(&b_[t], at)) return;
    size_t limit = b_.size() - t;
    if (action == 2) limit = std::min(limit, in.size() - at);  // a target copy may overlap
    size_t len = MatchLength(&in[at], &b_[t], limit);
    if (len < 8) return;
    size_t k = 0;
    while (k < t - literalFrom_ && k < at && in[at - k - 1] == b_[t - k - 1]) ++k;
    if (len + k > length + back) from = at, length = len, back = k, action_ = action;
  }

  void Command(int action, size_t length) {
    PutNumber(out_, (uint64_t{length} - 1) << 2 | static_cast<unsigned>(action));
    ++stats_.steps;
  }
  // Emits b[literalFrom_, end) as a target read.
  void Literal(size_t end) {
    if (end > literalFrom_) {
      Command(1, end - literalFrom_);
      Put(out_, &b_[literalFrom_], end - literalFrom_);
      stats_.literalBytes += end - literalFrom_;
    }
    literalFrom_ = end;
  }
  void Copy(int action, size_t from, size_t length) {
    Command(action, length);
    uint64_t& relative = action == 2 ? sourceRel_ : targetRel_;
    uint64_t delta = from >= relative ? (from - relative) << 1 : (relative - from) << 1 | 1;
    PutNumber(out_, delta);
    relative = from + length;
    literalFrom_ += length;
  }

  const Bytes& a_;
  const Bytes& b_;
  std::vector<uint8_t>& out_;
  ForeignStats& stats_;
  Index source_, target_;
  size_t literalFrom_ = 0;
  uint64_t sourceRel_ = 0, targetRel_ = 0;
};

void EncodeBps(const Bytes& a, const Bytes& b, const std::string& metadata,
               std::vector<uint8_t>& out, ForeignStats& stats) {
  const size_t start = out.size();
  Put(out, "BPS1", 4);
  PutNumber(out, a.size());
  PutNumber(out, b.size());
  PutNumber(out, metadata.size());
  Put(out, metadata.data(), metadata.size());
  BpsEncoder(a, b, out, stats).Run();
  PutFooter(out, start, a, b);
}

}  // namespace

bool EncodeForeign(PatchKind kind, const Bytes& original, const Bytes& modified,
                   const std::string& metadata, std::vector<uint8_t>& patch, ForeignStats& stats,
                   Bilingual& error) {
  stats = ForeignStats{};
  switch (kind) {
    case PatchKind::kIps: return EncodeIps(original, modified, patch, stats, error);
    case PatchKind::kUps: EncodeUps(original, modified, patch, stats); return true;
    case PatchKind::kBps: EncodeBps(original, modified, metadata, patch, stats); return true;
    default: error = {u"this format cannot be written", u"无法写出这种格式"}; return false;
  }
}

}  // namespace zelp::author
