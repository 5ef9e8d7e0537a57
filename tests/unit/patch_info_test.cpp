// Start-up: reading the header into the patch information and the summary.
#include <gtest/gtest.h>

#include <memory>

#include "cli/cli.h"
#include "common/text.h"
#include "engine/patch_stub.h"
#include "support/mem_file.h"
#include "support/patch_builder.h"
#include "support/test_util.h"

namespace {

struct Loaded {
  int ok;
  std::unique_ptr<CPatchStub> stub;
};

Loaded Load(const std::vector<uint8_t>& holder, uint64_t base = 0) {
  Loaded r{0, std::make_unique<CPatchStub>(base)};
  MemFile f(holder);
  r.ok = r.stub->LoadPatchInfoFromFile(f);
  return r;
}

}  // namespace

TEST(PatchInfo, SummaryLines) {
  struct Case {
    int64_t size;
    uint32_t crc;
    std::u16string summary;
  } cases[] = {
      {128891712, 0x2BBB27FF,
       u"补丁版本: KOVA-PATCH3.0\r\n目标文件的CRC32验证: 2BBB27FF\r\n打补丁后的文件大小: "
       u"128891712"},
      {0, 0, u"补丁版本: KOVA-PATCH3.0\r\n目标文件的CRC32验证: 无\r\n打补丁后的文件大小: 0"},
      {-5, 0x00ABCDEF,
       u"补丁版本: KOVA-PATCH3.0\r\n目标文件的CRC32验证: 00ABCDEF\r\n打补丁后的文件大小: -5"},
      {INT64_MIN, 1,
       u"补丁版本: KOVA-PATCH3.0\r\n目标文件的CRC32验证: 00000001\r\n打补丁后的文件大小: "
       u"-9223372036854775808"},
  };
  for (const auto& c : cases) {
    PatchBuilder p;
    p.Header(c.size, c.crc).End();
    auto r = Load(p.bytes);
    ASSERT_EQ(1, r.ok) << c.size;
    EXPECT_EQ(c.summary, std::u16string(r.stub->summary));
    EXPECT_EQ(c.size, r.stub->info.targetSize);
    EXPECT_EQ(c.crc, r.stub->info.targetCrc);
    EXPECT_EQ(std::u16string(u"KOVA-PATCH3.0"), std::u16string(r.stub->info.version));
  }
}

TEST(PatchInfo, VersionsOtherThan30FailAfterStoringTheText) {
  for (const char* ident : {"KOVA-PATCH3.1", "KOVA-PATCH2.0", "KOVA-PATCH4.0"}) {
    PatchBuilder p;
    p.Header(1, 0, 40, 0, ident).End();
    auto r = Load(p.bytes);
    EXPECT_EQ(0, r.ok) << ident;
    EXPECT_EQ(testutil::U16(ident), std::u16string(r.stub->info.version));
    EXPECT_EQ(std::u16string(), std::u16string(r.stub->summary));
  }
  // Sixteen bytes without a NUL still make a terminated text.
  PatchBuilder p;
  p.Header(1, 0, 40, 0, "KOVA-PATCH3.0xxx").End();
  auto r = Load(p.bytes);
  EXPECT_EQ(1, r.ok);
  EXPECT_EQ(std::u16string(u"KOVA-PATCH3.0xxx"), std::u16string(r.stub->info.version));
}

TEST(PatchInfo, EveryTruncatedHeaderFails) {
  PatchBuilder p;
  p.Header(1, 0).End();
  for (size_t n = 0; n < 40; ++n) {
    std::vector<uint8_t> cut(p.bytes.begin(), p.bytes.begin() + n);
    EXPECT_EQ(0, Load(cut).ok) << n;
  }
}

TEST(PatchInfo, RecordsOffsetIsCheckedAgainstTheHoldingFile) {
  // The patch starts at 1000; its own length is 41 bytes, the holder's 1041.
  struct Case {
    uint32_t offset;
    int ok;
  } cases[] = {{39, 0}, {40, 1}, {41, 1}, {1040, 1}, {1041, 0}, {0xFFFFFFFF, 0}};
  for (const auto& c : cases) {
    PatchBuilder p;
    p.Header(1, 0, c.offset).End();
    EXPECT_EQ(c.ok, Load(WithPrefix(1000, p.bytes), 1000).ok) << c.offset;
  }
}

TEST(PatchInfo, NoPatchAppendedFails) {
  std::vector<uint8_t> program(4096, 0x90);
  EXPECT_EQ(0, Load(program, program.size()).ok);         // stamped offset == file size
  EXPECT_EQ(0, Load(program, 0xFFFFFFFFFFFFFFFFull).ok);  // the unpacked stub's value
}

TEST(PatchInfo, Descriptions) {
  auto build = [](uint64_t descOffset, const std::u16string* text) {
    PatchBuilder p;
    p.Header(1, 0, 40, descOffset).End();
    if (text) {
      p.SetU64(32, descOffset == 1 ? p.bytes.size() : descOffset);
      p.Description(*text);
    }
    return p.bytes;
  };
  std::u16string hello = u"你好\r\nworld";
  auto r = Load(build(1, &hello));
  ASSERT_EQ(1, r.ok);
  EXPECT_EQ(hello, std::u16string(r.stub->info.description));

  r = Load(build(0, nullptr));  // offset 0: none
  ASSERT_EQ(1, r.ok);
  EXPECT_EQ(std::u16string(), std::u16string(r.stub->info.description));

  r = Load(build(5000, nullptr));  // beyond the end of the file
  ASSERT_EQ(1, r.ok);
  EXPECT_EQ(std::u16string(), std::u16string(r.stub->info.description));

  // base + offset >= 2^63: empty, never the bytes after the header.
  PatchBuilder p;
  p.Header(1, 0, 40, 0x8000000000000000ull - 100).End().Description(u"after the header");
  auto holder = WithPrefix(100, p.bytes);
  r = Load(holder, 100);
  ASSERT_EQ(1, r.ok);
  EXPECT_EQ(std::u16string(), std::u16string(r.stub->info.description));
}

TEST(PatchInfo, DescriptionIsCutAt32768Units) {
  for (size_t units : {size_t{32767}, size_t{32768}, size_t{40000}}) {
    std::u16string text(units, u'字');
    PatchBuilder p;
    p.Header(1, 0).End();
    p.SetU64(32, p.bytes.size());
    p.Description(text);
    auto r = Load(p.bytes);
    ASSERT_EQ(1, r.ok);
    EXPECT_EQ(std::min<size_t>(units, 32768), zelp::WideLen(r.stub->info.description)) << units;
    EXPECT_EQ(text.substr(0, 32768), std::u16string(r.stub->info.description));
  }
}

TEST(PatchInfo, LoadFromPath) {
  testutil::TempDir dir;
  PatchBuilder p;
  p.Header(7, 0x1234).End();
  testutil::WriteFile(dir.File("p"), p.bytes);
  CPatchStub* stub = new CPatchStub(0);
  EXPECT_EQ(1, stub->LoadPatchInfoFrom(testutil::U16(dir.File("p")).c_str()));
  EXPECT_EQ(0, stub->LoadPatchInfoFrom(testutil::U16(dir.File("missing")).c_str()));
  delete stub;
}

// zelp info shows a description's control characters on a terminal instead
// of sending them to it; a file or a pipe gets the text exactly.
TEST(PatchInfo, ATerminalGetsADescriptionsControlCharactersShown) {
  struct Captured : zelp::cli::Console {
    bool terminal = false;
    std::u16string out;
    void Out(const std::u16string& text) override { out += text; }
    void Err(const std::u16string&) override {}
    bool OutIsTerminal() override { return terminal; }
  };
  testutil::TempDir dir;
  PatchBuilder p;
  p.Header(1, 0).End();
  p.SetU64(32, p.bytes.size());
  p.Description(u"red \x1b[31mtext\x07\n第二行");
  testutil::WriteFile(dir.File("p"), p.bytes);
  zelp::cli::Args a;
  a.positional = {testutil::U16(dir.File("p"))};
  for (bool terminal : {false, true}) {
    Captured console;
    console.terminal = terminal;
    EXPECT_EQ(0, zelp::cli::CmdInfo(a, console));
    const std::u16string shown =
        terminal ? u"red \\x1B[31mtext\\x07\n第二行" : u"red \x1b[31mtext\x07\n第二行";
    EXPECT_NE(std::u16string::npos, console.out.find(shown)) << zelp::Utf16ToUtf8(console.out);
  }
}
