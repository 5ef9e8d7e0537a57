// UTF-16 helpers: conversions the command line and the POSIX file layer use.
#include "common/text.h"

#include <gtest/gtest.h>

using namespace zelp;

TEST(Text, WideCopyReturnsLengthAndCopiesTerminator) {
  char16_t dst[8];
  std::fill(std::begin(dst), std::end(dst), u'x');
  EXPECT_EQ(3u, WideCopy(dst, u"补丁A"));
  EXPECT_EQ(std::u16string(u"补丁A"), std::u16string(dst));
  EXPECT_EQ(0u, WideCopy(dst, u""));
  EXPECT_EQ(u'\0', dst[0]);
}

TEST(Text, AnsiIsLatin1OffWindows) {
  char16_t* w = AnsiToWide("KOVA\xE9");
  ASSERT_NE(nullptr, w);
  EXPECT_EQ(std::u16string(u"KOVA\u00E9"), std::u16string(w));
  delete[] w;
}

TEST(Text, StrictUtf8) {
  std::u16string out;
  EXPECT_TRUE(Utf8ToUtf16("a\xE8\xA1\xA5\xF0\x9F\x98\x80", out));
  EXPECT_EQ(std::u16string(u"a补\U0001F600"), out);
  for (const char* bad : {"\x80", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                          "\xE8\xA1", "\xFF"}) {
    EXPECT_FALSE(Utf8ToUtf16(bad, out)) << bad;
  }
  EXPECT_EQ("a补\U0001F600", Utf16ToUtf8(u"a补\U0001F600"));
  EXPECT_EQ("\xEF\xBF\xBD", Utf16ToUtf8(std::u16string(1, char16_t(0xD800))));  // lone surrogate
}

TEST(Text, NativePathsRoundTripEvenWhenNotUtf8) {
  for (std::string name :
       {std::string("plain.bin"), std::string("补丁 目标.rom"), std::string("bad\xFF\xFEname"),
        std::string("\xE8\xA1"), std::string("\xC3"), std::string("-dash")}) {
    std::u16string wide = PathFromNative(name);
    std::string back;
    ASSERT_TRUE(PathToNative(wide, back)) << name;
    EXPECT_EQ(name, back);
  }
}

TEST(Text, PathsThatNameNoNativeFileAreRefused) {
  std::string out;
  EXPECT_FALSE(PathToNative(std::u16string(1, char16_t(0xD800)), out));  // not an escape
  EXPECT_FALSE(PathToNative(std::u16string(u"a\0b", 3), out));           // embedded NUL
  // Escapes that would join into a valid sequence would name another file.
  std::u16string joined = {char16_t(0xDCC3), char16_t(0xDCA9)};
  EXPECT_FALSE(PathToNative(joined, out));
}

TEST(Text, CrLfBecomesLf) {
  EXPECT_EQ(std::u16string(u"a\nb\n\rc\r"), CrLfToLf(u"a\r\nb\r\n\rc\r"));
}

TEST(Text, NumbersAndPathParts) {
  EXPECT_EQ(u"0", zelp::Grouped(0));
  EXPECT_EQ(u"999", zelp::Grouped(999));
  EXPECT_EQ(u"4,194,304", zelp::Grouped(4194304));
  EXPECT_EQ(u"-1,234,567", zelp::Grouped(-1234567));
  EXPECT_EQ(u"9,223,372,036,854,775,807", zelp::Grouped(INT64_MAX));
  struct Case {
    std::string path, folder, name;
  } cases[] = {
      {"game.sfc", ".", "game.sfc"},
      {"/game.sfc", "/", "game.sfc"},
      {"roms/snes/game.sfc", "roms/snes", "game.sfc"},
      {"roms/", "roms", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.folder, zelp::FolderOf(c.path)) << c.path;
    EXPECT_EQ(c.name, zelp::NameOf(c.path)) << c.path;
    EXPECT_EQ(zelp::PathFromNative(c.folder), zelp::FolderOf(zelp::PathFromNative(c.path)));
  }
}
