#include <gtest/gtest.h>

#include "console/console.h"
#include "console/key_decoder.h"
#include "console/terminal_text.h"

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

std::string Filter(std::string_view in, int width = 80) {
  DisplayFilter f;
  std::string out;
  f.Write(in, width, out);
  f.Finish(width, out);
  return out;
}

TEST(DisplayFilter, ControlBytesNeverReachTheTerminal) {
  EXPECT_EQ(Filter("\x1b[2J"), "\u2190[2J");
  EXPECT_EQ(Filter("\x07\x01\x7f"), "\u2022\u263A\u2302");
  // C1 controls written as UTF-8 (U+009B is a one-byte CSI on some terminals) and raw C1 bytes.
  EXPECT_EQ(Filter("\xC2\x9B" "1m"), "\uFFFD\uFFFD1m");
  EXPECT_EQ(Filter("\x9b" "1m"), "\uFFFD1m");
  // No output byte below 0x20 but CR, LF and BS, and no DEL, for any input byte.
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  for (unsigned char c : Filter(all)) {
    EXPECT_TRUE(c >= 0x20 || c == '\r' || c == '\n' || c == '\b') << int(c);
    EXPECT_NE(c, 0x7f);
  }
}

TEST(DisplayFilter, PassesWellFormedUtf8Only) {
  EXPECT_EQ(Filter("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"), "caf\u00E9 \u20AC \U0001F600");
  EXPECT_EQ(Filter("caf\xE9!"), "caf\uFFFD!");            // Latin-1
  EXPECT_EQ(Filter("\xC0\xAF"), "\uFFFD\uFFFD");          // overlong '/'
  EXPECT_EQ(Filter("\xED\xA0\x80"), "\uFFFD\uFFFD\uFFFD");  // surrogate
  EXPECT_EQ(Filter("\xF4\x90\x80\x80"), "\uFFFD\uFFFD\uFFFD\uFFFD");  // past U+10FFFF
  EXPECT_EQ(Filter("\xE2\x82"), "\uFFFD\uFFFD");          // cut short at the end
}

TEST(DisplayFilter, KeepsASequenceSplitAcrossWrites) {
  DisplayFilter f;
  std::string out;
  f.Write("\xE2", 80, out);
  f.Write("\x82", 80, out);
  f.Write("\xAC", 80, out);
  EXPECT_EQ(out, "\u20AC");
  EXPECT_EQ(f.column(), 1);
}

TEST(DisplayFilter, TracksTheColumnAndWrapsLikeTheConsole) {
  DisplayFilter f;
  std::string out;
  f.Write("abc\tX", 80, out);
  EXPECT_EQ(out, "abc     X");
  EXPECT_EQ(f.column(), 9);
  f.Write("\b\r", 80, out);
  EXPECT_EQ(f.column(), 0);
  out.clear();
  f.Write("abcde", 4, out);  // a full line moves on to the next line at once
  EXPECT_EQ(out, "abcd\r\ne");
  EXPECT_EQ(f.column(), 1);
  out.clear();
  f.Write("\n\xE4\xB8\xAD\xE4\xB8\xAD", 3, out);  // a wide character that does not fit moves down
  EXPECT_EQ(out, "\r\n\u4E2D\r\n\u4E2D");
  EXPECT_EQ(f.column(), 2);
}

TEST(Attributes, MapToAnsiColours) {
  EXPECT_EQ(AttributeToSgr(14), "\x1b[0;93;40m");   // bright yellow on black
  EXPECT_EQ(AttributeToSgr(128), "\x1b[0;30;100m");  // black on grey
  EXPECT_EQ(AttributeToSgr(0x1C), "\x1b[0;91;44m");  // bright red on blue
  EXPECT_EQ(AttributeToSgr(kDefaultAttribute), "\x1b[0m");
}

TEST(KeyDecoder, PlainKeysAndLoneEsc) {
  EXPECT_EQ(DecodeKey("s").code, 's');
  EXPECT_EQ(DecodeKey("\r").code, 13);
  EXPECT_EQ(DecodeKey("\x03").code, 3);
  const DecodedKey esc = DecodeKey("\x1b");
  EXPECT_EQ(esc.code, 27);
  EXPECT_EQ(esc.secondCode, -1);
  EXPECT_EQ(DecodeKey("").code, -1);
  const DecodedKey twoKeys = DecodeKey("xy");
  EXPECT_EQ(twoKeys.code, 'x');
  EXPECT_EQ(twoKeys.used, 1u);
  const DecodedKey utf8 = DecodeKey("\xC3\xA9z");
  EXPECT_EQ(utf8.code, 0xC3);
  EXPECT_EQ(utf8.used, 2u);
}

TEST(KeyDecoder, EscapeSequencesGiveTwoCodes) {
  struct Case {
    const char* bytes;
    int second;
  } cases[] = {
      {"\x1b[A", 72}, {"\x1b[B", 80}, {"\x1b[C", 77}, {"\x1b[D", 75}, {"\x1bOA", 72},
      {"\x1b[H", 71}, {"\x1b[1~", 71}, {"\x1b[F", 79}, {"\x1b[4~", 79}, {"\x1b[2~", 82},
      {"\x1b[3~", 83}, {"\x1b[5~", 73}, {"\x1b[6~", 81}, {"\x1bOP", 59}, {"\x1b[15~", 63},
      {"\x1b[17~", 64}, {"\x1b[24~", 134}, {"\x1b[1;5C", 77}, {"\x1b[[A", 59},
  };
  for (const Case& c : cases) {
    const DecodedKey key = DecodeKey(c.bytes);
    EXPECT_EQ(key.code, 224) << c.bytes + 1;
    EXPECT_EQ(key.secondCode, c.second) << c.bytes + 1;
    EXPECT_EQ(key.used, std::string_view(c.bytes).size()) << c.bytes + 1;
  }
  const DecodedKey followed = DecodeKey("\x1b[Ax");
  EXPECT_EQ(followed.used, 3u);
  const DecodedKey alt = DecodeKey("\x1bx");
  EXPECT_EQ(alt.code, 0);
  EXPECT_EQ(alt.secondCode, 'x');
  const DecodedKey broken = DecodeKey("\x1b[12");
  EXPECT_EQ(broken.code, 224);
  EXPECT_EQ(broken.used, 4u);
}

}  // namespace
