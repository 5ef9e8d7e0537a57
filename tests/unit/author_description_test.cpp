// The description text: UTF-8 from the author, UTF-16 with CR LF for the
// program, refused rather than cut or garbled.
#include <gtest/gtest.h>

#include "author/description.h"

using zelp::author::DescriptionError;
using zelp::author::DescriptionFromBytes;

TEST(AuthorDescription, Conversions) {
  struct Case {
    std::string in;
    std::u16string out;
  } cases[] = {
      {"", u""},
      {"\xEF\xBB\xBF", u""},
      {"\xEF\xBB\xBFok", u"ok"},
      {"ok\xEF\xBB\xBF", u"ok\uFEFF"},  // only a leading mark is skipped
      {"汉化补丁 第一版", u"汉化补丁 第一版"},
      {"a\nb\n", u"a\r\nb\r\n"},
      {"a\r\nb\r\n", u"a\r\nb\r\n"},
      {"a\r\n\nb", u"a\r\n\r\nb"},
      {"\n", u"\r\n"},
      {"a\rb", u"a\rb"},  // a lone CR is no line break here; left as it is
      {"日本語\n한국어", u"日本語\r\n한국어"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},  // outside the BMP: a surrogate pair
      // UTF-16 with a byte order mark, either way round.
      {std::string("\xFF\xFE"
                   "a\0\n\0\x57\x5B",
                   8),
       u"a\r\n字"},
      {std::string("\xFE\xFF\0a\0\n\x5B\x57", 8), u"a\r\n字"},
      {std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6), u"\U0001F600"},
  };
  for (const auto& c : cases) {
    std::u16string text;
    size_t units = 99;
    ASSERT_EQ(DescriptionError::kNone, DescriptionFromBytes(c.in, text, units)) << c.in;
    EXPECT_EQ(c.out, text) << c.in;
    EXPECT_EQ(c.out.size(), units) << c.in;
  }
}

TEST(AuthorDescription, Refusals) {
  struct Case {
    std::string in;
    DescriptionError error;
  } cases[] = {
      {"ok\xC3", DescriptionError::kInvalidUtf8},        // cut short
      {"\xC0\xAF", DescriptionError::kInvalidUtf8},      // overlong
      {"\xED\xA0\x80", DescriptionError::kInvalidUtf8},  // a surrogate
      {"\xFF", DescriptionError::kInvalidUtf8},
      {"\xEF\xBB\xBF\x80", DescriptionError::kInvalidUtf8},  // bad after the mark
      {std::string("a\0b", 3), DescriptionError::kNul},
      {"\xFF\xFE"
       "a",
       DescriptionError::kInvalidUtf16},                                      // an odd length
      {std::string("\xFF\xFE\x00\xD8", 4), DescriptionError::kInvalidUtf16},  // a lone high half
      {std::string("\xFE\xFF\xDC\x00", 4), DescriptionError::kInvalidUtf16},  // a lone low half
      {std::string("\xFF\xFEx\0\0\0", 6), DescriptionError::kNul},
  };
  for (const auto& c : cases) {
    std::u16string text = u"unchanged?";
    size_t units = 0;
    EXPECT_EQ(c.error, DescriptionFromBytes(c.in, text, units)) << c.in;
    EXPECT_TRUE(text.empty());
  }
}

TEST(AuthorDescription, LimitCountsUnitsAfterConversion) {
  struct Case {
    std::string in;
    size_t units;
    bool fits;
  } cases[] = {
      {std::string(32768, 'x'), 32768, true},
      {std::string(32769, 'x'), 32769, false},
      {std::string(16384, '\n'), 32768, true},  // each LF becomes two units
      {std::string(16384, '\n') + "x", 32769, false},
      {"\xEF\xBB\xBF" + std::string(32768, 'x'), 32768, true},  // the mark is not counted
  };
  std::string cjk;
  for (int i = 0; i < 32768; ++i) cjk += "字";
  for (const auto& c : cases) {
    std::u16string text;
    size_t units = 0;
    EXPECT_EQ(c.fits ? DescriptionError::kNone : DescriptionError::kTooLong,
              DescriptionFromBytes(c.in, text, units));
    EXPECT_EQ(c.units, units);
  }
  std::u16string text;
  size_t units = 0;
  EXPECT_EQ(DescriptionError::kNone, DescriptionFromBytes(cjk, text, units));
  EXPECT_EQ(DescriptionError::kTooLong, DescriptionFromBytes(cjk + "字", text, units));
  EXPECT_EQ(32769u, units);
}
