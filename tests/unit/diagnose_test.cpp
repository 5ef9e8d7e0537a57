// The diagnosis of a refused target and the read-only check of a patch.
#include "engine/diagnose.h"

#include <gtest/gtest.h>

#include <memory>

#include "engine/format.h"
#include "engine/patch_stub.h"
#include "file/crc32.h"
#include "support/mem_file.h"
#include "support/patch_builder.h"
#include "support/test_util.h"

using zelp::Diagnose;
using zelp::Outcome;
using zelp::Verdict;
using Bytes = std::vector<uint8_t>;

namespace {

uint32_t Crc(const Bytes& b) { return zelp::Crc32Of(b.data(), b.size()); }

Bytes WithoutLast(Bytes b, size_t n) {
  b.resize(b.size() - n);
  return b;
}

// What applying writes: the size, then each absolute record's bytes.
Bytes Patched(Bytes file, size_t size, const std::vector<std::pair<size_t, Bytes>>& records) {
  file.resize(size, 0);
  for (const auto& r : records) {
    if (file.size() < r.first + r.second.size()) file.resize(r.first + r.second.size(), 0);
    std::copy(r.second.begin(), r.second.end(), file.begin() + r.first);
  }
  return file;
}

}  // namespace

TEST(Diagnose, Verdicts) {
  const Bytes original = testutil::RandomBytes(2000, 21);
  const uint32_t crc = Crc(original);
  const std::vector<std::pair<size_t, Bytes>> same = {{10, {1, 2, 3}}, {1500, {4, 5}}},
                                              grow = {{10, {1, 2, 3}}, {2500, {0, 0, 9}}},
                                              cut = {{10, {1, 2, 3}}},
                                              overwrite = {{10, {1, 2, 3}}, {11, {9}}};
  auto make = [](int64_t size, uint32_t c, const std::vector<std::pair<size_t, Bytes>>& records) {
    PatchBuilder p;
    p.Header(size, c);
    for (const auto& r : records) p.Abs(r.first, r.second);
    return p.End().bytes;
  };
  Bytes header(512, 0xEE);
  Bytes withHeader = header;
  withHeader.insert(withHeader.end(), original.begin(), original.end());
  Bytes patchedWithHeader = header;
  const Bytes patched = Patched(original, 2000, same);
  patchedWithHeader.insert(patchedWithHeader.end(), patched.begin(), patched.end());
  Bytes nearlyPatched = Patched(original, 2000, same);
  nearlyPatched[1501] ^= 1;
  Bytes nearlyWithHeader = patchedWithHeader;
  nearlyWithHeader[512 + 1501] ^= 1;
  const Bytes other = testutil::RandomBytes(4096, 22);
  struct Case {
    const char* name;
    Bytes patch, target;
    Verdict verdict;
  } cases[] = {
      {"the original", make(2000, crc, same), original, Verdict::kMatches},
      {"no CRC", make(2000, 0, same), other, Verdict::kMatches},
      {"already patched", make(2000, crc, same), Patched(original, 2000, same),
       Verdict::kAlreadyPatched},
      {"already patched, grown (zeros written past the end)", make(2400, crc, grow),
       Patched(original, 2400, grow), Verdict::kAlreadyPatched},
      {"already patched, cut", make(1000, crc, cut), Patched(original, 1000, cut),
       Verdict::kAlreadyPatched},
      {"already patched, a later record overwrites an earlier one", make(2000, crc, overwrite),
       Patched(original, 2000, overwrite), Verdict::kAlreadyPatched},
      {"the overwritten byte holds the earlier record's", make(2000, crc, overwrite),
       Patched(original, 2000, {{10, {1, 2, 3}}}), Verdict::kOtherFile},
      {"one written byte differs", make(2000, crc, same), nearlyPatched, Verdict::kOtherFile},
      {"patched size, but a patch that writes nothing", make(4096, crc, {}), other,
       Verdict::kOtherFile},
      {"copier header", make(2000, crc, same), withHeader, Verdict::kCopierHeader},
      {"already patched, behind a copier header", make(2000, crc, same), patchedWithHeader,
       Verdict::kPatchedBehindHeader},
      {"one written byte differs, behind a copier header", make(2000, crc, same), nearlyWithHeader,
       Verdict::kOtherFile},
      {"another file", make(2000, crc, same), other, Verdict::kOtherFile},
      {"an empty file", make(2000, crc, same), {}, Verdict::kOtherFile},
      {"a damaged patch", WithoutLast(make(2000, crc, same), 3), original, Verdict::kBadPatch},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The patch at an offset, as in a program that carries it.
    Bytes holder(100, 0x77);
    holder.insert(holder.end(), c.patch.begin(), c.patch.end());
    MemFile patch(holder), target(c.target);
    zelp::Diagnosis d = Diagnose(patch, target, 100);
    EXPECT_EQ(c.verdict, d.verdict);
    EXPECT_EQ(c.target, target.data);  // only read
    if (c.verdict == Verdict::kBadPatch) continue;
    EXPECT_EQ(zelp::Le32(c.patch.data() + zelp::kOffTargetCrc), d.expectedCrc);
    EXPECT_EQ(c.target.empty() ? 0u : Crc(c.target), d.targetCrc);
    EXPECT_EQ(static_cast<int64_t>(c.target.size()), d.targetSize);
  }
}

TEST(Diagnose, CheckPatchFindsEveryDamage) {
  auto header = [](const std::string& ident = "KOVA-PATCH3.0") {
    return PatchBuilder().Header(10, 0, 40, 0, ident);
  };
  struct Case {
    const char* name;
    Bytes patch;
    Outcome damage;
    int64_t at;
    uint64_t records;
  } cases[] = {
      {"whole", header().Abs(1, {1}).Rel(2, {2, 3}).End().bytes, Outcome::kOk, 61, 2},
      {"no end record", header().Abs(1, {1}).bytes, Outcome::kTypeCut, 52, 1},
      {"cut in a distance", header().Raw({0x01, 0, 0}).bytes, Outcome::kDistanceCut, 40, 0},
      {"cut in the data", WithoutLast(header().Abs(1, {1, 2, 3}).bytes, 1), Outcome::kDataCut, 40,
       0},
      {"unknown record type", header().Abs(1, {1}).Raw({0x03}).bytes, Outcome::kBadRecordType, 52,
       1},
      {"position out of reach", header().Abs(1ull << 63, {1}).End().bytes, Outcome::kUnreachable,
       40, 0},
      {"not a ZELP patch", Bytes(50, 'x'), Outcome::kIdentBad, 0, 0},
      {"another version", header("KOVA-PATCH2.0").End().bytes, Outcome::kOldVersion, 0, 0},
      {"header cut short", WithoutLast(header().bytes, 10), Outcome::kRecordsFieldCut, 28, 0},
      {"records outside the file", header().bytes, Outcome::kRecordsOutside, 28, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemFile patch(c.patch);
    zelp::StreamCheck check = zelp::CheckPatch(patch, 0);
    EXPECT_EQ(c.damage, check.damage);
    EXPECT_EQ(c.at, check.at);
    EXPECT_EQ(c.records, check.records);
    // Applying the same patch comes to the same outcome.
    auto stub = std::make_unique<CPatchStub>(0);
    MemFile target(Bytes(10, 0));
    testutil::ReportLog log;
    stub->ApplyOpened(patch, target, nullptr);
    EXPECT_EQ(c.damage, stub->outcome);
  }
}
