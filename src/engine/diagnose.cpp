#include "engine/diagnose.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "engine/foreign.h"
#include "engine/format.h"
#include "engine/header.h"
#include "engine/records.h"
#include "file/crc32.h"
#include "file/offset_file.h"

namespace zelp {

namespace {

// Walks the record stream at `recordsAt`, calling `visit(position, data,
// length)` for each record (see ForEachRecord).
template <class Visit>
Outcome WalkRecords(CKOVA_xFile& patch, int64_t recordsAt, StreamCheck& check, Visit visit) {
  if (!patch.Seek(recordsAt)) return Outcome::kSeekRecords;
  StreamReader in(patch);
  std::unique_ptr<uint8_t[]> data(new uint8_t[kMaxRecordData]);
  uint64_t recordAt = 0;
  auto counted = [&](uint64_t position, const uint8_t* bytes, uint32_t length) {
    ++check.records;
    uint64_t end = std::min<uint64_t>(position + length, INT64_MAX);
    if (length && static_cast<int64_t>(end) > check.extent)
      check.extent = static_cast<int64_t>(end);
    return visit(position, bytes, length);
  };
  RecordFault fault = ForEachRecord(in, data.get(), counted, &recordAt);
  check.at = recordsAt + static_cast<int64_t>(recordAt);
  return RecordOutcome(fault);
}

// The header: fills `check` and yields where the records begin.
Outcome ReadPatchHeader(CKOVA_xFile& patch, uint64_t base, StreamCheck& check, int64_t& recordsAt) {
  check.at = static_cast<int64_t>(base);
  if (base >= kUnreachable || !patch.Seek(static_cast<int64_t>(base))) return Outcome::kIdentShort;
  patch.GetSize(check.fileSize);
  PatchHeader h;
  Outcome o = HeaderOutcome(ReadHeader(patch, check.fileSize, h), h);
  check.targetSize = h.targetSize;
  check.targetCrc = h.targetCrc;
  switch (o) {
    case Outcome::kTargetSizeField: check.at += kOffTargetSize; break;
    case Outcome::kCrcFieldCut: check.at += kOffTargetCrc; break;
    case Outcome::kRecordsFieldCut:
    case Outcome::kRecordsOutside: check.at += kOffRecords; break;
    default: break;
  }
  recordsAt = static_cast<int64_t>(base + h.recordsOffset);
  return o;
}

// The whole target's CRC-32 and that of everything after its first 512
// bytes, in one pass.
bool TargetCrcs(CKOVA_xFile& target, int64_t size, uint32_t& whole, uint32_t& headerless) {
  if (!target.Seek(0)) return false;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kCrcReadSize]);
  uint32_t all = 0xFFFFFFFFu, tail = 0xFFFFFFFFu;
  for (int64_t pos = 0; pos < size;) {
    uint32_t n = static_cast<uint32_t>(std::min<int64_t>(kCrcReadSize, size - pos));
    if (!ReadExact(target, buffer.get(), n)) return false;
    all = Crc32Update(all, buffer.get(), n);
    int64_t skip = std::max<int64_t>(0, std::min<int64_t>(n, kCopierHeaderSize - pos));
    tail = Crc32Update(tail, buffer.get() + skip, n - static_cast<size_t>(skip));
    pos += n;
  }
  whole = size ? all ^ 0xFFFFFFFFu : 0;  // as the file interface reports an empty file
  headerless = tail ^ 0xFFFFFFFFu;
  return true;
}

constexpr size_t kMaxDiffering = 100000;

// Removes [from, to) from a set of disjoint ranges (start -> end).
void Forget(std::map<uint64_t, uint64_t>& ranges, uint64_t from, uint64_t to) {
  auto it = ranges.lower_bound(from);
  if (it != ranges.begin()) {
    auto before = std::prev(it);
    if (before->second > from) {
      uint64_t end = before->second;
      before->second = from;
      if (end > to) {
        ranges[to] = end;
        return;
      }
    }
  }
  while (it != ranges.end() && it->first < to) {
    if (it->second > to) {
      uint64_t end = it->second;
      ranges.erase(it);
      ranges[to] = end;
      return;
    }
    it = ranges.erase(it);
  }
}

// Every byte that the last record writing it writes is already in `target`
// (records may overwrite earlier ones). A patch that writes nothing proves
// nothing either way.
bool AlreadyPatched(CKOVA_xFile& patch, uint64_t patchBase, CKOVA_xFile& target) {
  // Byte ranges that differ and that no later record has written yet.
  std::map<uint64_t, uint64_t> differing;
  bool unreadable = false;
  uint64_t compared = 0;
  std::unique_ptr<uint8_t[]> have(new uint8_t[kMaxRecordData]);
  StreamCheck walk;
  int64_t recordsAt = 0;
  ReadPatchHeader(patch, patchBase, walk, recordsAt);
  WalkRecords(patch, recordsAt, walk, [&](uint64_t position, const uint8_t* data, uint32_t n) {
    if (n == 0) return true;
    Forget(differing, position, position + n);
    if (!target.Seek(static_cast<int64_t>(position)) || !ReadExact(target, have.get(), n)) {
      unreadable = true;
      return false;
    }
    for (uint32_t i = 0; i < n;) {
      if (have[i] == data[i]) {
        ++i;
        continue;
      }
      uint32_t from = i;
      while (i < n && have[i] != data[i]) ++i;
      differing[position + from] = position + i;
    }
    compared += n;
    // So many differences are not a file that is already patched.
    return differing.size() <= kMaxDiffering;
  });
  return !unreadable && differing.empty() && compared > 0;
}

}  // namespace

StreamCheck CheckPatch(CKOVA_xFile& patch, uint64_t patchBase) {
  StreamCheck check;
  int64_t recordsAt = 0;
  check.damage = ReadPatchHeader(patch, patchBase, check, recordsAt);
  if (check.damage == Outcome::kOk)
    check.damage = WalkRecords(patch, recordsAt, check,
                               [](uint64_t, const uint8_t*, uint32_t) { return true; });
  return check;
}

Diagnosis Diagnose(CKOVA_xFile& patch, CKOVA_xFile& target, uint64_t patchBase) {
  Diagnosis d;
  d.patch = CheckPatch(patch, patchBase);
  if (d.patch.damage != Outcome::kOk) return d;
  d.expectedCrc = d.patch.targetCrc;
  d.patchedSize = std::max(d.patch.targetSize, d.patch.extent);
  target.GetSize(d.targetSize);
  if (!TargetCrcs(target, d.targetSize, d.targetCrc, d.headerlessCrc)) {
    d.verdict = Verdict::kUnreadable;
    return d;
  }
  if (d.expectedCrc == 0 || d.targetCrc == d.expectedCrc) {
    d.verdict = Verdict::kMatches;
    return d;
  }
  if (d.targetSize == d.patchedSize && AlreadyPatched(patch, patchBase, target)) {
    d.verdict = Verdict::kAlreadyPatched;
    return d;
  }
  if (d.targetSize > kCopierHeaderSize && d.headerlessCrc == d.expectedCrc) {
    d.verdict = Verdict::kCopierHeader;
    return d;
  }
  OffsetFile pastHeader(target, kCopierHeaderSize);
  d.verdict = d.targetSize == d.patchedSize + kCopierHeaderSize &&
                      AlreadyPatched(patch, patchBase, pastHeader)
                  ? Verdict::kPatchedBehindHeader
                  : Verdict::kOtherFile;
  return d;
}

Diagnosis DiagnoseForeign(const ForeignInfo& info, CKOVA_xFile& target) {
  Diagnosis d;
  d.patch.damage = Outcome::kOk;
  target.GetSize(d.targetSize);
  d.patchedSize = ForeignResultSize(info, d.targetSize);
  if (!TargetCrcs(target, d.targetSize, d.targetCrc, d.headerlessCrc)) {
    d.verdict = Verdict::kUnreadable;
    return d;
  }
  if (!info.checksSource) {
    d.verdict = Verdict::kMatches;
    return d;
  }
  // A CRC of 0 is an ordinary value here, not "no check": the size must
  // match as well.
  d.expectedCrc = info.sourceCrc;
  const auto size = static_cast<uint64_t>(d.targetSize);
  if (size == info.sourceSize && d.targetCrc == info.sourceCrc)
    d.verdict = Verdict::kMatches;
  else if (size == info.targetSize && d.targetCrc == info.targetCrc)
    d.verdict = Verdict::kAlreadyPatched;
  else if (size == info.sourceSize + kCopierHeaderSize && d.headerlessCrc == info.sourceCrc)
    d.verdict = Verdict::kCopierHeader;
  else if (size == info.targetSize + kCopierHeaderSize && d.headerlessCrc == info.targetCrc)
    d.verdict = Verdict::kPatchedBehindHeader;
  else
    d.verdict = Verdict::kOtherFile;
  return d;
}

}  // namespace zelp
