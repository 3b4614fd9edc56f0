#include <gtest/gtest.h>

#include "console/console.h"

namespace {

TEST(WrapColored, BreaksWhenTheCounterReachesTheRightEdge) {
  const std::string line(100, 'x');
  // From column 0 in an 80-column window (right edge 79): 79 bytes, then the break.
  EXPECT_EQ(WrapColored(line, 0, 79), std::string(79, 'x') + "\n\r" + std::string(21, 'x'));
  // From column 78: the first byte lands there and the break follows at once.
  EXPECT_EQ(WrapColored("ab", 78, 79), "a\n\rb");
  // After a line feed the counter restarts at 1, so the next line breaks after 78 bytes.
  EXPECT_EQ(WrapColored("\n" + line, 0, 79),
            "\n" + std::string(78, 'x') + "\n\r" + std::string(22, 'x'));
  EXPECT_EQ(WrapColored("ab\rcd", 0, 3), "ab\rcd\n\r");
}

TEST(WrapColored, DropsBellsAndCountsEveryOtherByte) {
  EXPECT_EQ(WrapColored("\a\a\a", 0, 79), "");
  EXPECT_EQ(WrapColored("", 5, 79), "");
  EXPECT_EQ(WrapColored("a\ab\tc", 0, 3), "ab\t\n\rc");
}

}  // namespace
