// Patches written by the author layer, applied by the engine: for many pairs
// of files, applying create(A, B) to a copy of A gives exactly B, and the
// header says what the program will show.
#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>
#include <random>

#include "author/differ.h"
#include "author/patch_writer.h"
#include "common/text.h"
#include "engine/format.h"
#include "engine/patch_stub.h"
#include "support/mem_file.h"
#include "support/test_util.h"

using zelp::author::PatchOptions;
using zelp::author::PatchStats;
using zelp::author::PatchStatus;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Create(const Bytes& a, const Bytes& b, const PatchOptions& options,
             PatchStats* stats = nullptr) {
  MemFile original(a), modified(b), modifiedData(b), out;
  PatchStats local;
  EXPECT_EQ(PatchStatus::kOk, zelp::author::WritePatch(original, modified, modifiedData, out,
                                                       options, stats ? *stats : local));
  return out.data;
}

uint32_t ZlibCrc(const Bytes& v) {
  return static_cast<uint32_t>(crc32(0, v.data(), static_cast<uInt>(v.size())));
}

// Applies `patch` to a copy of `a` through the engine; the result, or a
// marker vector when the engine refused.
Bytes Apply(const Bytes& patch, const Bytes& a) {
  auto stub = std::make_unique<CPatchStub>(0);
  MemFile p(patch), target(a);
  testutil::ReportLog log;
  if (!stub->ApplyOpened(p, target, nullptr)) {
    ADD_FAILURE() << "apply failed: " << zelp::Utf16ToUtf8(log.Only());
    return {0xEE};
  }
  EXPECT_EQ(u"补丁成功", log.Only());
  return target.data;
}

struct Pair {
  std::string name;
  Bytes a, b;
};

Bytes Mutate(Bytes v, std::mt19937& rng, int changes, int maxLen) {
  if (v.empty()) return v;
  for (int i = 0; i < changes; ++i) {
    size_t at = rng() % v.size();
    size_t len = 1 + rng() % maxLen;
    for (size_t k = at; k < v.size() && k < at + len; ++k)
      v[k] = static_cast<uint8_t>(v[k] + 1 + rng() % 255);
  }
  return v;
}

std::vector<Pair> Pairs() {
  std::mt19937 rng(2024);
  std::vector<Pair> out;
  auto rnd = [&](size_t n) { return testutil::RandomBytes(n, rng()); };
  out.push_back({"both empty", {}, {}});
  out.push_back({"empty original", {}, rnd(1000)});
  out.push_back({"empty modified", rnd(1000), {}});
  Bytes same = rnd(5000);
  out.push_back({"equal", same, same});
  for (int i = 0; i < 40; ++i) {
    Bytes a = rnd(1 + rng() % 20000);
    out.push_back(
        {"same size #" + std::to_string(i), a, Mutate(a, rng, 1 + rng() % 60, 1 + rng() % 40)});
  }
  for (int i = 0; i < 15; ++i) {
    Bytes a = rnd(1 + rng() % 8000);
    Bytes b = Mutate(a, rng, rng() % 20, 10);
    Bytes tail = rnd(rng() % 9000);
    if (i % 3 == 0) std::fill(tail.begin(), tail.end(), 0);  // zeros need no records
    if (i % 3 == 1)
      for (size_t k = 0; k < tail.size(); k += 2) tail[k] = 0;
    b.insert(b.end(), tail.begin(), tail.end());
    out.push_back({"growing #" + std::to_string(i), a, b});
  }
  for (int i = 0; i < 15; ++i) {
    Bytes a = rnd(2 + rng() % 8000);
    Bytes b = Mutate(a, rng, rng() % 20, 10);
    b.resize(rng() % b.size());
    out.push_back({"shrinking #" + std::to_string(i), a, b});
  }
  {
    Bytes a = rnd(3000), b = a;
    b.front() ^= 1;
    b.back() ^= 1;
    out.push_back({"first and last byte", a, b});
  }
  {
    Bytes a = rnd(300000), b = a;
    for (size_t k = 1000; k < 1000 + 3 * 65535 + 17; ++k) b[k] = static_cast<uint8_t>(~b[k]);
    out.push_back({"run longer than a record", a, b});
    Bytes c = rnd(200000);
    out.push_back({"all different", a, c});
  }
  for (int gap = 0; gap <= 16; ++gap) {
    Bytes a(100, 0x55), b = a;
    for (int k = 0; k < 5; ++k) b[20 + k] = b[20 + 5 + gap + k] = 0xAA;
    out.push_back({"gap " + std::to_string(gap), a, b});
  }
  return out;
}

}  // namespace

TEST(AuthorCreate, RoundTripOverManyPairs) {
  PatchOptions plain;
  PatchOptions smallBlocks;
  smallBlocks.blockSize = 4096;  // runs cross block boundaries
  PatchOptions tinyLimits;       // many records, and absolute ones
  tinyLimits.limits = {5, 11};
  tinyLimits.blockSize = 5000;
  PatchOptions smallBuffers;  // the smallest buffers: a full record's data fills the window
  smallBuffers.ioBuffer = 0;
  for (const Pair& p : Pairs()) {
    for (const PatchOptions* options : {&plain, &smallBlocks, &tinyLimits, &smallBuffers}) {
      PatchStats stats;
      Bytes patch = Create(p.a, p.b, *options, &stats);
      ASSERT_EQ(p.b, Apply(patch, p.a)) << p.name;
      EXPECT_EQ(static_cast<int64_t>(p.b.size()), stats.targetSize) << p.name;
      EXPECT_EQ(ZlibCrc(p.a), stats.targetCrc) << p.name;
      EXPECT_EQ(patch.size(), stats.patchSize) << p.name;
      // What start-up reads from the header.
      auto stub = std::make_unique<CPatchStub>(0);
      MemFile file(patch);
      ASSERT_EQ(1, stub->LoadPatchInfoFromFile(file)) << p.name;
      EXPECT_EQ(static_cast<int64_t>(p.b.size()), stub->info.targetSize) << p.name;
      EXPECT_EQ(ZlibCrc(p.a), stub->info.targetCrc) << p.name;
      EXPECT_EQ(u"KOVA-PATCH3.0", std::u16string(stub->info.version)) << p.name;
    }
  }
}

TEST(AuthorCreate, AbsoluteRecordsAreWrittenWhenDistancesDoNotFit) {
  // With the relative distance limited to 11 bytes, changes 40 bytes apart
  // need absolute records, which the engine must place right.
  Bytes a(200, 1), b = a;
  b[3] = b[60] = b[150] = 9;
  PatchOptions options;
  options.limits = {5, 11};
  Bytes patch = Create(a, b, options);
  ASSERT_EQ(b, Apply(patch, a));
  // header, then 01 (distance 3), 02 (position 60), 02 (position 150), FF
  ASSERT_EQ(40u + 8 + 12 + 12 + 1, patch.size());
  EXPECT_EQ(0x01, patch[40]);
  EXPECT_EQ(0x02, patch[48]);
  EXPECT_EQ(60u, zelp::Le64(&patch[49]));
  EXPECT_EQ(0x02, patch[60]);
  EXPECT_EQ(0xFF, patch.back());
}

TEST(AuthorCreate, HeaderAndLayout) {
  Bytes a = {1, 2, 3, 4, 5, 6, 7, 8}, b = {1, 2, 9, 4, 5, 6, 7, 8, 0, 0, 7};
  struct Case {
    bool crc, description;
  } cases[] = {{true, false}, {false, false}, {true, true}};
  for (const Case& c : cases) {
    PatchOptions options;
    options.crc = c.crc;
    options.hasDescription = c.description;
    options.description = u"第一行\r\nline 2";
    Bytes patch = Create(a, b, options);
    EXPECT_EQ(0, std::memcmp(patch.data(), "KOVA-PATCH3.0\0\0\0", 16));
    EXPECT_EQ(11u, zelp::Le64(&patch[16]));
    EXPECT_EQ(c.crc ? ZlibCrc(a) : 0u, zelp::Le32(&patch[24]));
    EXPECT_EQ(40u, zelp::Le32(&patch[28]));
    // Records: byte 2 -> 9 and byte 10 -> 7 (bytes 8 and 9 are zeros already).
    const Bytes records = {0x01, 2, 0, 0, 0, 1, 0, 9, 0x01, 8, 0, 0, 0, 1, 0, 7, 0xFF};
    ASSERT_GE(patch.size(), 40 + records.size());
    EXPECT_EQ(records, Bytes(patch.begin() + 40, patch.begin() + 40 + records.size()));
    uint64_t descriptionAt = zelp::Le64(&patch[32]);
    if (!c.description) {
      EXPECT_EQ(0u, descriptionAt);
      EXPECT_EQ(40 + records.size(), patch.size());
      continue;
    }
    EXPECT_EQ(40 + records.size(), descriptionAt);
    std::u16string text;
    for (size_t i = descriptionAt; i + 1 < patch.size(); i += 2)
      text.push_back(static_cast<char16_t>(patch[i] | patch[i + 1] << 8));
    EXPECT_EQ(options.description + u'\0', text);  // the terminator ends the file
    auto stub = std::make_unique<CPatchStub>(0);
    MemFile file(patch);
    ASSERT_EQ(1, stub->LoadPatchInfoFromFile(file));
    EXPECT_EQ(options.description, std::u16string(stub->info.description));
  }
}

TEST(AuthorCreate, EqualFilesGiveJustTheEndRecord) {
  for (size_t n : {0, 1, 100000}) {
    Bytes a = testutil::RandomBytes(n, 5);
    Bytes patch = Create(a, a, {});
    ASSERT_EQ(41u, patch.size());
    EXPECT_EQ(0xFF, patch[40]);
    EXPECT_EQ(a, Apply(patch, a));
  }
}

TEST(AuthorCreate, ReadFailuresAreReported) {
  Bytes a = testutil::RandomBytes(10000, 1), b = a;
  b[5000] ^= 1;
  {
    MemFile original(a), modified(b), modifiedData(b), out;
    original.open = false;  // unreadable
    PatchStats stats;
    EXPECT_EQ(PatchStatus::kReadOriginal,
              zelp::author::WritePatch(original, modified, modifiedData, out, {}, stats));
  }
  {
    MemFile original(a), modified(b), modifiedData(Bytes(100)), out;  // data handle too short
    PatchStats stats;
    EXPECT_EQ(PatchStatus::kReadModified,
              zelp::author::WritePatch(original, modified, modifiedData, out, {}, stats));
  }
  {
    MemFile original(a), modified(b), modifiedData(b), out;
    out.limit = 45;  // a full disk
    PatchStats stats;
    EXPECT_EQ(PatchStatus::kWrite,
              zelp::author::WritePatch(original, modified, modifiedData, out, {}, stats));
  }
}

namespace {

class RunList : public zelp::author::RunSink {
 public:
  bool OnRun(uint64_t start, uint64_t length) override {
    runs.emplace_back(start, length);
    return true;
  }
  std::vector<std::pair<uint64_t, uint64_t>> runs;
};

}  // namespace

TEST(AuthorDiffer, RunsMatchAByteByByteComparisonWhateverTheSplits) {
  std::mt19937 rng(99);
  for (int iter = 0; iter < 200; ++iter) {
    size_t n = rng() % 20000;
    Bytes a = testutil::RandomBytes(n, rng()), b = a;
    bool zeros = iter % 4 == 0;  // compare against the zeros beyond an original's end
    if (zeros) std::fill(a.begin(), a.end(), 0), b = a;
    int changes = static_cast<int>(rng() % 50);
    for (int i = 0; i < changes && n; ++i) {
      size_t at = rng() % n, len = 1 + rng() % (iter % 2 ? 3 : 300);
      for (size_t k = at; k < n && k < at + len; ++k)
        b[k] = static_cast<uint8_t>(b[k] ^ (1 + rng() % 255));
    }
    std::vector<std::pair<uint64_t, uint64_t>> want;
    for (size_t i = 0; i < n;) {
      if (a[i] == b[i]) {
        ++i;
        continue;
      }
      size_t j = i;
      while (j < n && a[j] != b[j]) ++j;
      want.emplace_back(i, j - i);
      i = j;
    }
    RunList got;
    zelp::author::RunBuilder builder(got);
    for (size_t at = 0; at < n;) {
      size_t len = std::min<size_t>(n - at, 1 + rng() % 9000);
      ASSERT_TRUE(builder.Compare(zeros ? nullptr : a.data() + at, b.data() + at, len, at));
      at += len;
    }
    ASSERT_TRUE(builder.Flush());
    EXPECT_EQ(want, got.runs) << "iteration " << iter;
  }
}
