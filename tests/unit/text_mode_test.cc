#include "search/text_mode.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/plain_text_mode.h"

namespace {

using qz_test::PlainTextMode;
using qz_test::RandomText;

TEST(TextMode, AgreesWithThePlainRuleOnRandomInput) {
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; ++round) {
    // Mostly text with many CRs and LFs; byte 26 only now and then, so that long stretches
    // pass through the vector path.
    const std::string_view alphabet = round % 4 ? "ab\r\n\r\n\r" : "ab\r\n\x1a";
    const std::string raw = RandomText(rng, rng() % 300, alphabet);
    std::string translated = raw;
    TranslateTextMode(translated);
    ASSERT_EQ(translated, PlainTextMode(raw)) << "round " << round;
  }
}

TEST(TextMode, ReportsWhereTheTextEnds) {
  std::string s(100, 'x');
  s[70] = 26;
  bool sawEnd = false;
  EXPECT_EQ(TranslateTextMode(s.data(), s.size(), sawEnd), 70u);
  EXPECT_TRUE(sawEnd);
  std::string t = std::string(40, 'y') + "\r";
  EXPECT_EQ(TranslateTextMode(t.data(), t.size(), sawEnd), 41u);  // a last CR stays
  EXPECT_FALSE(sawEnd);
}

TEST(TextMode, CrLfBecomesLfAndLoneCrStays) {
  std::string s = "a\r\nb\rc\r\r\nd\n\r";
  TranslateTextMode(s);
  EXPECT_EQ(s, "a\nb\rc\r\nd\n\r");
}

TEST(TextMode, FirstCtrlZEndsTheContent) {
  std::string s = "before\x1a" "after\x1a";
  TranslateTextMode(s);
  EXPECT_EQ(s, "before");
  std::string t = "\r\n\x1a\r\n";
  TranslateTextMode(t);
  EXPECT_EQ(t, "\n");
  std::string u = "x\r\x1a\n";  // the CR is not followed by LF in the delivered content
  TranslateTextMode(u);
  EXPECT_EQ(u, "x\r");
}

TEST(TextMode, PositionsShiftByOnePerLineEndBefore) {
  std::string s;
  for (int i = 0; i < 10; ++i) s += "line\r\n";
  const std::size_t fileOffset = s.size();
  s += "budget";
  TranslateTextMode(s);
  // The one occurrence stands ten bytes earlier: one per CR LF before it.
  EXPECT_EQ(s.find("budget"), fileOffset - 10);
  EXPECT_EQ(s.find("budget", fileOffset - 9), std::string::npos);
}

}  // namespace
