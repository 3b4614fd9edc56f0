#include "console/key_decoder.h"

#include <gtest/gtest.h>

namespace {

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
  // A stray continuation byte after a whole character is a key of its own.
  EXPECT_EQ(DecodeKey("\xC3\xA9\xA9").used, 2u);
  EXPECT_EQ(DecodeKey("\xE2\x82\xAC\x80").used, 3u);
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

// A sequence with private parameters ('?', as in a terminal's report of its attributes) or an
// intermediate byte (a space) before its final byte is one key press, used whole; a byte that
// fits no sequence breaks it off there.
TEST(KeyDecoder, ParametersAndIntermediatesBelongToTheSequence) {
  for (const char* whole : {"\x1b[?62;22c", "\x1b[2 q", "\x1b[>1;10;0c"}) {
    const DecodedKey key = DecodeKey(whole);
    EXPECT_EQ(key.code, 224) << whole + 1;
    EXPECT_EQ(key.used, std::string_view(whole).size()) << whole + 1;
  }
  EXPECT_TRUE(KeyMayContinue("\x1b[?62"));
  EXPECT_EQ(DecodeKey("\x1b[1\x01x").used, 3u);
  EXPECT_EQ(DecodeKey("\x1b[1\x80x").used, 3u);
}

TEST(KeyDecoder, KeyMayContinueUntilTheKeyIsWhole) {
  for (const char* open : {"\x1b", "\x1b[", "\x1b[1", "\x1b[1;5", "\x1bO", "\x1b[[", "\xC3",
                           "\xE2\x82"}) {
    EXPECT_TRUE(KeyMayContinue(open)) << open + 1;
    EXPECT_EQ(DecodeKey(open).used, std::string_view(open).size()) << open + 1;
  }
  for (const char* whole : {"", "x", "\x1b[A", "\x1bOP", "\x1b[15~", "\x1b[[A", "\x1bx",
                            "\x1b\x1b", "\xC3\xA9", "\xC3x", "\x1b[\x01"})
    EXPECT_FALSE(KeyMayContinue(whole)) << whole;
}

}  // namespace
