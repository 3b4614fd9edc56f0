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

TEST(WrapColored, CountsCellsAndNeverSplitsACharacter) {
  // Two-byte characters take one cell each: the break comes after 79 of them, as for ASCII.
  std::string accents;
  for (int i = 0; i < 80; ++i) accents += "\xC3\xA9";
  EXPECT_EQ(WrapColored(accents, 0, 79), accents.substr(0, 158) + "\n\r" + accents.substr(158));
  // A wide character that would reach the edge column starts the next line; one that ends just
  // before it is the line's last.
  const std::string wide = "\xE4\xB8\xAD";  // U+4E2D, two cells
  EXPECT_EQ(WrapColored(std::string(78, 'a') + wide, 0, 79),
            std::string(78, 'a') + "\n\r" + wide);
  EXPECT_EQ(WrapColored(std::string(77, 'a') + wide + "b", 0, 79),
            std::string(77, 'a') + wide + "\n\rb");
  // Bytes that are no character count one cell each, and a combining mark none.
  EXPECT_EQ(WrapColored("\xFF\xFE", 77, 79), "\xFF\xFE\n\r");
  EXPECT_EQ(WrapColored("e\xCC\x81", 77, 79), "e\xCC\x81");
  // A sequence is never cut by a break, also when it is the last thing before the edge.
  const std::string emoji = "\xE2\x9C\x85";  // U+2705, two cells
  const std::string wrapped = WrapColored(std::string(40, 'x') + emoji + emoji + emoji, 36, 79);
  EXPECT_EQ(wrapped, std::string(40, 'x') + emoji + "\n\r" + emoji + emoji);
}

TEST(InertName, ShowsEveryControlByteAsItsGlyph) {
  EXPECT_EQ(InertName("a\rFound in \nb\tc\bd"), "a\u266AFound in \u25D9b\u25CBc\u25D8d");
  EXPECT_EQ(InertName("plain/caf\xC3\xA9"), "plain/caf\xC3\xA9");
}

}  // namespace
