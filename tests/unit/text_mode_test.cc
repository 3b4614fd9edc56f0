#include "search/text_mode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "search/cpu_features.h"
#include "support/plain_text_mode.h"

namespace {

using qz_test::PlainTextMode;
using qz_test::RandomText;

// The checks that must hold through each loop this machine has: the vector loop (where the
// processor has one) and the plain loop. The vector loops take 32 or 64 bytes at a time and
// look one byte past the block for the LF after a CR.
class TextModeLoops : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override { AllowVectorPath(GetParam()); }
  void TearDown() override { AllowVectorPath(true); }
};

INSTANTIATE_TEST_SUITE_P(VectorAndPlain, TextModeLoops, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "VectorWhereThereIsOne" : "Plain";
                         });

std::uint64_t PlainCountCrLf(std::string_view s) {
  std::uint64_t pairs = 0;
  for (std::size_t i = 0; i + 1 < s.size(); ++i) pairs += s[i] == '\r' && s[i + 1] == '\n';
  return pairs;
}

TEST_P(TextModeLoops, CountCrLfPairsAcrossBlockEdges) {
  // One pair, or a CR alone, at every offset of texts around one and two blocks long.
  for (const std::size_t size : {31, 32, 33, 63, 64, 65, 66, 127, 128, 129, 200}) {
    for (std::size_t at = 0; at + 1 < size; ++at) {
      std::string s(size, 'x');
      s[at] = '\r';
      s[at + 1] = '\n';
      ASSERT_EQ(CountCrLf(s), 1u) << "size " << size << ", pair at " << at;
      s[at + 1] = '\r';
      ASSERT_EQ(CountCrLf(s), 0u) << "size " << size << ", CR CR at " << at;
      // Cut between the CR and its LF: the pair is not in the bytes counted.
      s[at + 1] = '\n';
      ASSERT_EQ(CountCrLf(std::string_view(s).substr(0, at + 1)), 0u) << "size " << size;
    }
  }
  std::mt19937 rng(GetParam() ? 11 : 13);
  for (int round = 0; round < 1000; ++round) {
    const std::string s = RandomText(rng, rng() % 400, "a\r\n\r\n\r\x1a");
    ASSERT_EQ(CountCrLf(s), PlainCountCrLf(s)) << "round " << round;
  }
}

TEST_P(TextModeLoops, AgreesWithThePlainRuleOnRandomInput) {
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
