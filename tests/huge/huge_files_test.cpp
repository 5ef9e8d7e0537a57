// Targets of 5 GiB, made as sparse files so that the test needs next to no
// disk and never holds a file in memory: records at the 2 GiB, 4 GiB and
// 5 GiB boundaries, relative distances that carry into the upper 32 bits,
// absolute positions beyond 4 GiB, and CRC-32s over the whole file, whose
// expected values are built from zlib's crc32_combine over the file's few
// data pieces and its holes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <map>

#include "common/text.h"
#include "file/file.h"
#include "support/patch_builder.h"
#include "support/test_util.h"

using testutil::RunProgram;
using testutil::TempDir;

namespace {

constexpr int64_t kGiB = int64_t{1} << 30;

// The CRC-32 of n zero bytes, from the CRCs of 2^k zeros.
uLong ZerosCrc(uint64_t n) {
  static std::vector<uLong> pow2 = [] {
    std::vector<uLong> p;
    const Bytef zero = 0;
    p.push_back(crc32(0L, &zero, 1));
    for (int k = 1; k < 40; ++k)
      p.push_back(crc32_combine(p[k - 1], p[k - 1], z_off_t{1} << (k - 1)));
    return p;
  }();
  uLong crc = 0;
  for (int k = 0; k < 40; ++k)
    if (n >> k & 1) crc = crc32_combine(crc, pow2[k], z_off_t{1} << k);
  return crc;
}

// A sparse file: zeros except for the pieces in `data` (offset -> bytes).
using Pieces = std::map<int64_t, std::vector<uint8_t>>;

uint32_t SparseCrc(int64_t size, const Pieces& data) {
  uLong crc = 0;
  int64_t at = 0;
  for (const auto& [offset, bytes] : data) {
    crc = crc32_combine(crc, ZerosCrc(offset - at), offset - at);
    crc = crc32(crc, bytes.data(), static_cast<uInt>(bytes.size()));
    at = offset + static_cast<int64_t>(bytes.size());
  }
  crc = crc32_combine(crc, ZerosCrc(size - at), size - at);
  return static_cast<uint32_t>(crc);
}

// Writes `pieces` over one another in order (later ones win).
Pieces Overlay(Pieces base, const std::vector<std::pair<int64_t, std::vector<uint8_t>>>& writes) {
  for (const auto& [at, bytes] : writes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
      // Split into single bytes; adjacent ones are joined again below.
      int64_t pos = at + static_cast<int64_t>(i);
      for (auto it = base.begin(); it != base.end(); ++it) {
        int64_t off = it->first;
        auto& v = it->second;
        if (pos >= off && pos < off + static_cast<int64_t>(v.size())) {
          v[pos - off] = bytes[i];
          pos = -1;
          break;
        }
      }
      if (pos >= 0) base[pos] = {bytes[i]};
    }
  }
  Pieces joined;
  for (const auto& [off, v] : base) {
    if (!joined.empty()) {
      auto& last = *joined.rbegin();
      if (last.first + static_cast<int64_t>(last.second.size()) == off) {
        last.second.insert(last.second.end(), v.begin(), v.end());
        continue;
      }
    }
    joined[off] = v;
  }
  return joined;
}

// Makes a sparse file of `size` bytes holding `data`; false (with a reason)
// when the file system cannot hold it without really allocating it.
bool MakeSparse(const std::string& path, int64_t size, const Pieces& data, std::string& why) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return why = "cannot create " + path, false;
  bool ok = ftruncate(fd, size) == 0;
  for (const auto& [off, bytes] : data)
    ok = ok && pwrite(fd, bytes.data(), bytes.size(), off) == static_cast<ssize_t>(bytes.size());
  struct stat st;
  ok = ok && fstat(fd, &st) == 0;
  close(fd);
  if (!ok) return why = "the file system refused a 5 GiB file", false;
  if (st.st_blocks * 512 > 64 * 1024 * 1024)
    return why = "the file system does not keep holes (sparse files)", false;
  return true;
}

bool ByteAt(const std::string& path, int64_t at, uint8_t& out) {
  int fd = open(path.c_str(), O_RDONLY);
  bool ok = fd >= 0 && pread(fd, &out, 1, at) == 1;
  if (fd >= 0) close(fd);
  return ok;
}

int64_t SizeOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

uint32_t EngineCrc(const std::string& path) {
  CKOVA_File f;
  if (!zelp::Open(zelp::PathFromNative(path).c_str(), f, zelp::kModeRead, zelp::kShareRead))
    return 0;
  return f.Crc32();
}

const int64_t kTargetSize = 5 * kGiB + 4096;

Pieces TargetPieces() {
  return {{0, {'R', 'O', 'M'}},
          {2 * kGiB - 8, {1, 2, 3, 4, 5, 6, 7, 8}},
          {4 * kGiB - 3, {9, 9, 9, 9, 9, 9}},
          {5 * kGiB + 100, {0x55}},
          {kTargetSize - 1, {0xEE}}};
}

}  // namespace

TEST(HugeFiles, CrcAndSeekOnA5GiBFile) {
  TempDir dir;
  std::string path = dir.File("t.bin");
  std::string why;
  if (!MakeSparse(path, kTargetSize, TargetPieces(), why)) GTEST_SKIP() << why;
  EXPECT_EQ(SparseCrc(kTargetSize, TargetPieces()), EngineCrc(path));

  CKOVA_File f;
  ASSERT_EQ(1,
            zelp::Open(zelp::PathFromNative(path).c_str(), f, zelp::kModeRead, zelp::kShareRead));
  struct {
    int64_t at;
    uint8_t want;
  } probes[] = {{2 * kGiB - 1, 8},      {2 * kGiB, 0},     {4 * kGiB - 1, 9},
                {4 * kGiB + 2, 9},      {4 * kGiB + 3, 0}, {5 * kGiB + 100, 0x55},
                {kTargetSize - 1, 0xEE}};
  for (const auto& p : probes) {
    SCOPED_TRACE(p.at);
    ASSERT_TRUE(f.Seek(p.at));
    int64_t pos = -1;
    f.Tell(pos);
    EXPECT_EQ(p.at, pos);
    uint8_t b = 0xAA;
    EXPECT_EQ(1u, f.Read(&b, 1));
    EXPECT_EQ(p.want, b);
  }
  int64_t size = 0;
  f.GetSize(size);
  EXPECT_EQ(kTargetSize, size);
}

TEST(HugeFiles, RecordsAtThe2And4And5GiBBoundaries) {
  TempDir dir;
  std::string target = dir.File("t.bin");
  std::string why;
  if (!MakeSparse(target, kTargetSize, TargetPieces(), why)) GTEST_SKIP() << why;

  // The patch grows the file by 4 KiB and writes across each boundary.
  const int64_t newSize = kTargetSize + 4096;
  std::vector<std::pair<int64_t, std::vector<uint8_t>>> writes;
  PatchBuilder p;
  p.Header(newSize, SparseCrc(kTargetSize, TargetPieces()));
  auto record = [&](bool relative, uint64_t arg, int64_t lands, std::vector<uint8_t> data) {
    if (relative)
      p.Rel(static_cast<uint32_t>(arg), data);
    else
      p.Abs(arg, data);
    writes.push_back({lands, data});
  };
  record(false, 2 * kGiB - 2, 2 * kGiB - 2, {'A', 'B', 'C', 'D'});  // across 2 GiB
  record(true, 0x80000000u, 4 * kGiB - 2, {'E', 'F', 'G', 'H'});    // 0x7FFFFFFE + 2^31
  record(true, 0x00000004u, 4 * kGiB + 2, {'I', 'J'});              // carries into bit 32
  record(false, kGiB + 2, kGiB + 2, {'k'});
  record(true, 0xFFFFFFFFu, 5 * kGiB + 1, {'K'});         // the largest distance
  record(false, 5 * kGiB - 1, 5 * kGiB - 1, {'L', 'M'});  // across 5 GiB
  record(true, 0u, 5 * kGiB - 1, {'N'});                  // distance 0: same place
  record(false, static_cast<uint64_t>(newSize - 2), newSize - 2, {'Y', 'Z'});  // the new end
  p.End();
  testutil::WriteFile(dir.File("p.zelp"), p.bytes);

  auto r = RunProgram(ZELP_BIN, {"apply", dir.File("p.zelp"), target}, {0, false});
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_TRUE(testutil::SaysPatched(r.out)) << r.out;
  // Sizes past 4 GiB are said whole.
  EXPECT_NE(std::string::npos,
            r.out.find(" → " + zelp::Utf16ToUtf8(zelp::Grouped(newSize)) + " bytes\n"))
      << r.out;
  EXPECT_EQ(newSize, SizeOf(target));

  Pieces want = Overlay(TargetPieces(), writes);
  for (const auto& [at, bytes] : want) {
    for (size_t i = 0; i < bytes.size(); ++i) {
      int64_t pos = at + static_cast<int64_t>(i);
      uint8_t b = 0;
      ASSERT_TRUE(ByteAt(target, pos, b));
      EXPECT_EQ(bytes[i], b) << "at " << pos;
    }
  }
  // Every other byte: as before, or zero in the grown part.
  EXPECT_EQ(SparseCrc(newSize, want), EngineCrc(target));

  // Applied again, the CRC no longer matches and nothing changes.
  auto again = RunProgram(ZELP_BIN, {"apply", dir.File("p.zelp"), target}, {0, false});
  EXPECT_EQ(3, again.exitCode);
  EXPECT_EQ(
      "目标文件没有通过CRC32验证\nzelp: this is not the file the patch was made for; nothing was "
      "changed\nzelp: this file is already patched: it holds everything the patch writes\n",
      again.err);
  EXPECT_EQ(newSize, SizeOf(target));
}

TEST(HugeFiles, TruncatingA5GiBFileBringsCutBytesBackAsZeros) {
  TempDir dir;
  std::string target = dir.File("t.bin");
  std::string why;
  if (!MakeSparse(target, kTargetSize, TargetPieces(), why)) GTEST_SKIP() << why;
  // Cut to just past 5 GiB, then write a little further: the bytes between
  // come back as zeros, not as the old ones (0x55 at 5 GiB + 100 is gone).
  const int64_t cutTo = 5 * kGiB + 50;
  PatchBuilder p;
  p.Header(cutTo, 0).Abs(5 * kGiB + 200, {'Q'}).End();
  testutil::WriteFile(dir.File("p.zelp"), p.bytes);
  auto r = RunProgram(ZELP_BIN, {"apply", dir.File("p.zelp"), target}, {0, false});
  ASSERT_EQ(0, r.exitCode) << r.err;
  EXPECT_EQ(5 * kGiB + 201, SizeOf(target));
  uint8_t b = 0xAA;
  ASSERT_TRUE(ByteAt(target, 5 * kGiB + 100, b));
  EXPECT_EQ(0, b);
  Pieces want = {{0, {'R', 'O', 'M'}},
                 {2 * kGiB - 8, {1, 2, 3, 4, 5, 6, 7, 8}},
                 {4 * kGiB - 3, {9, 9, 9, 9, 9, 9}},
                 {5 * kGiB + 200, {'Q'}}};
  EXPECT_EQ(SparseCrc(5 * kGiB + 201, want), EngineCrc(target));
}

TEST(HugeFiles, CreateBetweenTwo5GiBFilesThenApply) {
  TempDir dir;
  std::string original = dir.File("original.bin"), modified = dir.File("modified.bin");
  std::string why;
  if (!MakeSparse(original, kTargetSize, TargetPieces(), why)) GTEST_SKIP() << why;
  // Changes on each boundary, one piece gone, and 8 KiB more at the end.
  const int64_t modifiedSize = kTargetSize + 8192;
  Pieces changed = {
      {0, {'R', 'O', 'M'}},         {2 * kGiB - 8, {1, 2, 3, 4, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4}},
      {4 * kGiB - 3, {9, 9, 0xB0}}, {4 * kGiB + 2, {0xB1}},
      {5 * kGiB - 1, {0xC0, 0xC1}}, {modifiedSize - 1, {0xDD}}};
  if (!MakeSparse(modified, modifiedSize, changed, why)) GTEST_SKIP() << why;

  auto made =
      RunProgram(ZELP_BIN, {"create", original, modified, "-o", dir.File("p.zelp")}, {0, false});
  ASSERT_EQ(0, made.exitCode) << made.err;
  // Neither file was held in memory.
  EXPECT_LT(made.maxRssKiB, 256 * 1024) << "zelp create peaked at " << made.maxRssKiB << " KiB";
  EXPECT_LT(SizeOf(dir.File("p.zelp")), 1024) << "a few records, not the files";

  auto applied = RunProgram(ZELP_BIN, {"apply", dir.File("p.zelp"), original}, {0, false});
  ASSERT_EQ(0, applied.exitCode) << applied.err;
  EXPECT_LT(applied.maxRssKiB, 256 * 1024)
      << "zelp apply peaked at " << applied.maxRssKiB << " KiB";
  EXPECT_EQ(modifiedSize, SizeOf(original));
  EXPECT_EQ(SparseCrc(modifiedSize, changed), EngineCrc(original));
  uint8_t b = 0xAA;
  ASSERT_TRUE(ByteAt(original, 5 * kGiB + 100, b));  // the piece that is gone
  EXPECT_EQ(0, b);
}
