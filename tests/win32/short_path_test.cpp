// Short forms of paths under Wine, which gives long names hashed 8.3
// aliases, and the fallback name Open tries after file-not-found.
#include "file/short_path.h"

#include <gtest/gtest.h>

#include <string>

#include "file/file.h"
#include "win_test_util.h"

using namespace zelp_test;
using zelp::DirShortPath;
using zelp::FallbackPath;
using zelp::FullShortPath;
using zelp::kPathUnits;

namespace {

std::wstring PlatformShort(const std::wstring& path) {
  wchar_t s[MAX_PATH];
  DWORD n = GetShortPathNameW(path.c_str(), s, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(s) : std::wstring();
}

// dir\Long Directory Name\another long dir\file with spaces.bin
class LongNames : public ::testing::Test {
 protected:
  void SetUp() override {
    outer = dir / L"Long Directory Name";
    inner = outer + L"\\another long dir";
    file = inner + L"\\file with spaces.bin";
    ASSERT_TRUE(CreateDirectoryW(outer.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(inner.c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(file, "content"));
    shortInner = PlatformShort(inner);
    ASSERT_FALSE(shortInner.empty());
    for (char16_t& c : out) c = u'?';
  }
  int Full(const std::wstring& p) { return FullShortPath(U16(p), out); }
  int Dir(const std::wstring& p) { return DirShortPath(U16(p), out); }
  std::wstring Out() const { return W(out); }

  TempDir dir;
  std::wstring outer, inner, file, shortInner;
  char16_t out[kPathUnits];
};

TEST_F(LongNames, FullShortPathReplacesEveryLongComponentByItsAlias) {
  ASSERT_EQ(Full(file), 1);
  EXPECT_EQ(Out(), PlatformShort(file));
  // The temporary folder's components are valid short names and stay; the
  // long ones were replaced (Wine makes aliases without spaces).
  EXPECT_EQ(Out().compare(0, dir.path().size(), dir.path()), 0);
  EXPECT_EQ(Out().find(L' '), std::wstring::npos) << Out();
  // The result names the same file.
  std::string content;
  ASSERT_TRUE(ReadWholeFile(Out(), content));
  EXPECT_EQ(content, "content");
}

TEST_F(LongNames, ATrailingSeparatorIsDroppedByFullAndKeptByDir) {
  ASSERT_EQ(Full(inner + L"\\"), 1);
  EXPECT_EQ(Out(), shortInner);
  ASSERT_EQ(Dir(inner + L"\\"), 1);
  EXPECT_EQ(Out(), shortInner + L"\\");
}

TEST_F(LongNames, DirShortPathOfAFileIsItsFoldersShortForm) {
  ASSERT_EQ(Dir(file), 1);
  EXPECT_EQ(Out(), shortInner + L"\\");
}

TEST_F(LongNames, DirShortPathKeepsALastFolderWithoutSeparatorAsGiven) {
  ASSERT_EQ(Dir(inner), 1);
  EXPECT_EQ(Out(), PlatformShort(outer) + L"\\another long dir\\");
}

TEST_F(LongNames, MissingComponentsFailAndEmptyTheResult) {
  const std::wstring missing[] = {
      inner + L"\\no such file.bin",
      inner + L"\\no such folder\\",
      outer + L"\\no such folder\\file with spaces.bin",
      dir / L"nothing",
  };
  for (const auto& p : missing) {
    SCOPED_TRACE(std::string(p.begin(), p.end()));
    for (char16_t& c : out) c = u'?';
    EXPECT_EQ(Full(p), 0);
    EXPECT_EQ(out[0], 0);
    out[0] = u'?';
    EXPECT_EQ(Dir(p), 0);
    EXPECT_EQ(out[0], 0);
  }
}

TEST_F(LongNames, TheFallbackForCreatingShortensOnlyTheFolder) {
  ASSERT_EQ(FallbackPath(U16(file), zelp::kModeCreate, out), 1);
  EXPECT_EQ(Out(), shortInner + L"\\file with spaces.bin");
  for (int mode : {zelp::kModeRead, zelp::kModeWrite, zelp::kModeReadWrite}) {
    ASSERT_EQ(FallbackPath(U16(file), mode, out), 1);
    EXPECT_EQ(Out(), PlatformShort(file));
  }
  // No folder part, or nothing there: no fallback.
  EXPECT_EQ(FallbackPath(u"file with spaces.bin", zelp::kModeCreate, out), 0);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(FallbackPath(U16(inner + L"\\new file.bin"), zelp::kModeCreate, out), 0);
  EXPECT_EQ(FallbackPath(U16(inner + L"\\new file.bin"), zelp::kModeRead, out), 0);
}

TEST_F(LongNames, OpenReachesFilesThroughTheirShortForms) {
  // The platform itself resolves aliases; Open must pass them on intact.
  CKOVA_File f;
  ASSERT_EQ(zelp::Open(U16(PlatformShort(file)), f, zelp::kModeReadWrite, zelp::kShareRead), 1);
  char buf[7];
  EXPECT_EQ(f.Read(buf, 7), 7u);
  EXPECT_EQ(std::string(buf, 7), "content");
}

// Builds, under `base` (ending in '\'), folders with 8.3-valid names so that
// the path of the folder part has exactly `dirUnits` units (ending in '\').
std::wstring MakeFolders(std::wstring base, size_t dirUnits) {
  size_t rest = dirUnits - base.size();
  char letter = 'a';
  while (rest > 0) {
    size_t take = rest >= 9 ? 9 : rest;  // up to 8 units and a separator
    if (rest - take == 1) take = 8;      // never leave a 1-unit remainder
    base += std::wstring(take - 1, static_cast<wchar_t>(letter++)) + L"\\";
    CreateDirectoryW(base.c_str(), nullptr);
    rest -= take;
  }
  return base;
}

TEST(ShortPathLengths, EachLengthTestCountsOneUnitMore) {
  // A 12-unit file name ("abcdefgh.txt") after folders of 246 or 247 units:
  // paths of 258 and 259 units whose components are all short already.
  for (size_t total : {size_t{258}, size_t{259}}) {
    SCOPED_TRACE(total);
    TempDir dir;
    std::wstring folders = MakeFolders(dir.path(), total - 12);
    std::wstring path = folders + L"abcdefgh.txt";
    ASSERT_EQ(path.size(), total);
    ASSERT_TRUE(WriteWholeFile(path, "x"));
    ASSERT_EQ(PlatformShort(path), path);
    char16_t out[kPathUnits];
    bool fits = total == 258;
    EXPECT_EQ(FullShortPath(U16(path), out), fits ? 1 : 0);
    if (fits) {
      EXPECT_EQ(W(out), path);
    }
    EXPECT_EQ(DirShortPath(U16(path), out), fits ? 1 : 0);
    if (fits) {
      EXPECT_EQ(W(out), folders);
    }
  }
}

}  // namespace
