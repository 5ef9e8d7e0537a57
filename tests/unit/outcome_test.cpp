// The table of outcomes itself: each is explained in both languages (what
// each path comes to is tested where it is taken: apply, diagnose, stamp).
#include "engine/outcome.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/explain.h"

using zelp::Outcome;

namespace {

const Outcome kAll[] = {
#define ZELP_OUTCOME(name, report, exit, written, english, chinese) Outcome::name,
#include "engine/outcome_table.def"
#undef ZELP_OUTCOME
};

bool HasHan(const std::u16string& s) {
  for (char16_t c : s)
    if (c >= 0x4E00 && c <= 0x9FFF) return true;
  return false;
}

}  // namespace

TEST(Outcomes, EachIsExplainedInEnglishAndInChinese) {
  for (Outcome o : kAll) {
    SCOPED_TRACE(static_cast<int>(o));
    const std::u16string en = zelp::Explanation(o, zelp::Language::kEnglish);
    const std::u16string zh = zelp::Explanation(o, zelp::Language::kChinese);
    EXPECT_FALSE(en.empty());
    EXPECT_FALSE(HasHan(en));
    EXPECT_TRUE(HasHan(zh));
    EXPECT_EQ(std::u16string::npos, en.find(u'\n'));
    EXPECT_EQ(std::u16string::npos, zh.find(u'\n'));
  }
}
