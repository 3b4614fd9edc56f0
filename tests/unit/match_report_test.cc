#include "search/match_report.h"

#include <gtest/gtest.h>

namespace {

TEST(DecisionForKey, SkipsOnEitherSStopsOnEscGoesOnOtherwise) {
  EXPECT_EQ(DecisionForKey('S'), MatchDecision::SkipFile);
  EXPECT_EQ(DecisionForKey('s'), MatchDecision::SkipFile);
  EXPECT_EQ(DecisionForKey(27), MatchDecision::Stop);
  // Ctrl+C, Enter, the code of a key without a character, no keyboard at all, and the
  // neighbours of the two letters.
  for (const int key : {3, 13, 224, -1, int{'R'}, int{'T'}, int{'r'}, int{'t'}, int{'n'}, 26, 28, 's' + 128})
    EXPECT_EQ(DecisionForKey(key), MatchDecision::Continue) << key;
}

TEST(MatchHeader, OverwritesThePathLineWithPathAndPosition) {
  EXPECT_EQ(MatchHeader("./notes/plan.txt", 1200), "\rFound in ./notes/plan.txt - position 1200:\n\n");
  EXPECT_EQ(MatchHeader("a", 18446744073709551615u),
            "\rFound in a - position 18446744073709551615:\n\n");
}

TEST(Segments, StopAtTheFirstNul) {
  EXPECT_EQ(UpToNul(std::string_view("ab\0cd", 5)), "ab");
  EXPECT_EQ(UpToNul("abc"), "abc");
  EXPECT_EQ(UpToNul(std::string_view("\0", 1)), "");
}

}  // namespace
