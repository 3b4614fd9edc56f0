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
#ifdef _WIN32
  EXPECT_EQ(WrapColored("a\ab\tc", 0, 3), "ab\t\n\rc");  // the console counts a tab as one
#else
  // The tab at column 2 would pass the edge: blanks fill the row instead.
  EXPECT_EQ(WrapColored("a\ab\tc", 0, 3), "ab \n\rc");
#endif
}

#ifndef _WIN32
// On a terminal a tab counts the cells to the next multiple of 8 of the cursor's column (which
// is one less than the counter after CR or LF); one that would pass the row's end fills it
// with blanks.
TEST(WrapColored, TabsCountToTheNextTabStop) {
  EXPECT_EQ(WrapColored("ab\tc", 0, 79), "ab\tc");
  EXPECT_EQ(WrapColored(std::string(70, 'x') + "\t" + std::string(8, 'y'), 0, 79),
            std::string(70, 'x') + "\t" + std::string(7, 'y') + "\n\ry");  // 2 cells, to 72
  EXPECT_EQ(WrapColored(std::string(76, 'x') + "\tyz", 0, 79),
            std::string(76, 'x') + "   \n\ryz");
  EXPECT_EQ(WrapColored(std::string(74, 'x') + "\tyz", 0, 79),
            std::string(74, 'x') + "     \n\ryz");
  // After a line feed the column is 0 and the counter 1: the stop is column 8, counter 9.
  EXPECT_EQ(WrapColored("\nabcdefg\t" + std::string(70, 'y'), 0, 79),
            "\nabcdefg\t" + std::string(70, 'y') + "\n\r");
}
#endif

}  // namespace
