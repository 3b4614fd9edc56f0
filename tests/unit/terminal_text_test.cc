#include "console/terminal_text.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "console/console.h"

namespace {

// The console takes the terminal's character set from the locale, once, at its first use; these
// tests are about a UTF-8 terminal, whatever locale they are run in. Set before main.
[[maybe_unused]] const int kUtf8Locale = setenv("LC_ALL", "C.UTF-8", 1);

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

// A terminal in a one-byte set (Latin-1 here, or the C locale's ASCII) gets the set's own
// printable bytes, one cell each, and '?' for every other byte and every symbol; never a byte
// from 0x80 to 0x9F, which it would take for a C1 control.
TEST(DisplayFilter, OneByteSetsGetTheirPrintableBytesAndQuestionMarks) {
  const TerminalCharset latin1 = OneByteCharset([](unsigned char) { return true; });
  const TerminalCharset ascii = OneByteCharset([](unsigned char) { return false; });
  const auto filter = [](const TerminalCharset& set, std::string_view in, int width = 80) {
    DisplayFilter f(set);
    std::string out;
    f.Write(in, width, out);
    f.Finish(width, out);
    return out;
  };
  const std::string q = "?";
  EXPECT_EQ(filter(latin1, "caf\xE9 \xE2\x80\x9D\x1b[2J\x7f\x01\tx\r\n"),
            "caf\xE9 \xE2" + q + q + q + "[2J" + q + q + "  x\r\r\n");
  EXPECT_EQ(filter(ascii, "caf\xC3\xA9 \x9b" "2J"), "caf" + q + q + " " + q + "2J");
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  for (unsigned char c : filter(latin1, all)) EXPECT_FALSE(c >= 0x80 && c <= 0x9F) << int(c);
  for (unsigned char c : filter(ascii, all)) EXPECT_LT(c, 0x80);
  // One cell a byte: the row breaks at the edge as for ASCII.
  EXPECT_EQ(filter(latin1, std::string(12, '\xE9'), 10),
            std::string(10, '\xE9') + "\r\n" + std::string(2, '\xE9'));
  EXPECT_EQ(SymbolFor(27, latin1), "?");
  EXPECT_EQ(SymbolFor(27, TerminalCharset()), "\u2190");
}

TEST(DisplayFilter, PassesWellFormedUtf8Only) {
  EXPECT_EQ(Filter("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"), "caf\u00E9 \u20AC \U0001F600");
  EXPECT_EQ(Filter("caf\xE9!"), "caf\uFFFD!");            // Latin-1
  EXPECT_EQ(Filter("\xC0\xAF"), "\uFFFD\uFFFD");          // overlong '/'
  EXPECT_EQ(Filter("\xED\xA0\x80"), "\uFFFD\uFFFD\uFFFD");  // surrogate
  EXPECT_EQ(Filter("\xF4\x90\x80\x80"), "\uFFFD\uFFFD\uFFFD\uFFFD");  // past U+10FFFF
  EXPECT_EQ(Filter("\xE2\x82"), "\uFFFD\uFFFD");          // cut short at the end
  // The first code points of three and four bytes, and the overlong forms just below them.
  EXPECT_EQ(Filter("\xE0\xA0\x80"), "\u0800");
  EXPECT_EQ(Filter("\xE0\x9F\xBF"), "\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Filter("\xF0\x90\x80\x80"), "\U00010000");
  EXPECT_EQ(Filter("\xF0\x8F\xBF\xBF"), "\uFFFD\uFFFD\uFFFD\uFFFD");
  // Code points at the ends of each length (U+0080 to U+009F are C1 controls, replaced), and
  // the first lead byte past the last.
  EXPECT_EQ(Filter("\xC2\xA0 \xDF\xBF \xEF\xBF\xBD \xF4\x8F\xBF\xBF"),
            "\u00A0 \u07FF \uFFFD \U0010FFFF");
  EXPECT_EQ(Filter("\xF5\x80"), "\uFFFD\uFFFD");
}

TEST(DisplayFilter, KeepsASequenceSplitAcrossWrites) {
  DisplayFilter f;
  std::string out;
  f.Write("\xE2", 80, out);
  f.Write("\x82", 80, out);
  f.Write("\xAC", 80, out);
  f.EndCharacter(80, out);  // an accent could still follow
  EXPECT_EQ(out, "\u20AC");
  EXPECT_EQ(f.column(), 1);
}

TEST(DisplayFilter, TracksTheColumnAndWrapsLikeTheConsole) {
  DisplayFilter f;
  std::string out;
  f.Write("abc\tX", 80, out);
  f.EndCharacter(80, out);
  EXPECT_EQ(out, "abc     X");
  EXPECT_EQ(f.column(), 9);
  f.Write("\b\r", 80, out);
  EXPECT_EQ(f.column(), 0);
  out.clear();
  f.Write("abcde", 4, out);  // a full line moves on to the next line at once
  f.EndCharacter(4, out);
  EXPECT_EQ(out, "abcd\r\ne");
  EXPECT_EQ(f.column(), 1);
  out.clear();
  f.Write("\n\xE4\xB8\xAD\xE4\xB8\xAD", 3, out);  // a wide character that does not fit moves down
  f.EndCharacter(3, out);
  EXPECT_EQ(out, "\r\n\u4E2D\r\n\u4E2D");
  EXPECT_EQ(f.column(), 2);
}

TEST(Attributes, MapToAnsiColours) {
  EXPECT_EQ(AttributeToSgr(14), "\x1b[0;93;40m");   // bright yellow on black
  EXPECT_EQ(AttributeToSgr(128), "\x1b[0;30;100m");  // black on grey
  EXPECT_EQ(AttributeToSgr(0x1C), "\x1b[0;91;44m");  // bright red on blue
  EXPECT_EQ(AttributeToSgr(kDefaultAttribute), "\x1b[0m");
}

// Which style each kind of terminal description gets, and what it sends for the two colours
// of a report (context 14, match 128) and for the default.
TEST(TerminalStyle, EachDescriptionGetsWhatItCanShow) {
  TerminalDescription colours;
  colours.name = "xterm-256color";
  colours.colours = 256;
  colours.clear = "\x1b[H\x1b[2J";
  colours.reverse = "\x1b[7m";
  colours.plain = "\x1b(B\x1b[m";
  const TerminalStyle many = TerminalStyle::For(colours, false);
  EXPECT_EQ(many.kind(), TerminalStyle::Kind::k256Colours);
  EXPECT_EQ(many.Select(14), "\x1b[0;93;48;5;16m");
  EXPECT_EQ(many.Select(128), "\x1b[0;38;5;16;48;5;244m");
  EXPECT_EQ(many.Select(0x1C), "\x1b[0;91;44m");
  EXPECT_EQ(many.Select(kDefaultAttribute), "\x1b[0m");
  EXPECT_EQ(many.clear(), colours.clear);

  colours.colours = 8;
  EXPECT_EQ(TerminalStyle::For(colours, false).Select(128), "\x1b[0;30;100m");
  colours.name = "linux";
  const TerminalStyle console = TerminalStyle::For(colours, false);
  EXPECT_EQ(console.Select(128), "\x1b[0;30;47m");  // light grey, not the dark black of 100
  EXPECT_EQ(console.Select(0x9E), "\x1b[0;93;44m");  // another bright background: its dark one
  EXPECT_EQ(console.Select(14), "\x1b[0;93;40m");

  // NO_COLOR, or a terminal without colours: reverse video for the match alone.
  TerminalDescription mono;
  mono.name = "vt100";
  mono.reverse = "\x1b[7m";
  mono.plain = "\x1b[m\x0f";
  for (const TerminalStyle& style :
       {TerminalStyle::For(colours, true), TerminalStyle::For(mono, false)}) {
    EXPECT_EQ(style.kind(), TerminalStyle::Kind::kReverse);
    EXPECT_EQ(style.Select(128), style.reset() + "\x1b[7m");
    EXPECT_EQ(style.Select(14), style.reset());
    EXPECT_EQ(style.MarkBetween(14, 128), "");
  }

  // Nothing at all: no sequence, the match between marks.
  const TerminalStyle plain = TerminalStyle::For(TerminalDescription(), false);
  EXPECT_EQ(plain.kind(), TerminalStyle::Kind::kMarks);
  EXPECT_EQ(plain.Select(128), "");
  EXPECT_EQ(plain.reset(), "");
  EXPECT_EQ(plain.clear(), "");
  EXPECT_EQ(plain.MarkBetween(14, 128), TerminalStyle::kMarkOpen);
  EXPECT_EQ(plain.MarkBetween(128, kDefaultAttribute), TerminalStyle::kMarkClose);
  EXPECT_EQ(plain.MarkBetween(kDefaultAttribute, 14), "");
}

TEST(DisplayFilter, ShowsInvisibleReorderingAndSeparatorsAsReplacements) {
  // RLO, LRI, PDI, LRM, RLM, ALM, LINE SEPARATOR, PARAGRAPH SEPARATOR: one U+FFFD each.
  EXPECT_EQ(Filter("a\u202Eb\u2066c\u2069d\u200E\u200F\u061C\u2028\u2029e"),
            "a\uFFFDb\uFFFDc\uFFFDd\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDe");
  // A joiner inside an emoji sequence is no such control and passes.
  EXPECT_EQ(Filter("\U0001F469\u200D\U0001F4BB"), "\U0001F469\u200D\U0001F4BB");
}

TEST(DisplayFilter, EmojiAndWideCharactersTakeTwoCells) {
  for (const char* wide : {"\u231A", "\u26A1", "\u2705", "\U0001F004", "\u4E2D"}) {
    DisplayFilter f;
    std::string out;
    f.Write(wide, 80, out);
    EXPECT_EQ(f.column(), 2) << wide;
  }
  DisplayFilter f;
  std::string out;
  f.Write("e\u0301", 80, out);  // a combining accent takes no cell of its own
  EXPECT_EQ(f.column(), 1);
}

TEST(NextShownUnit, MeasuresAsTheFilterShows) {
  const struct {
    const char* text;
    std::size_t bytes;
    int cells;
  } cases[] = {
      {"a", 1, 1},         {"\x01", 1, 1},       {"\xC3\xA9x", 2, 1}, {"\xE4\xB8\xAD", 3, 2},
      {"\xCC\x81", 2, 0},  {"\xE2\x80\xAE", 3, 1}, {"\xC2\x9B", 2, 2}, {"\xE2\x82x", 1, 1},
      {"\xC0\xAF", 1, 1},  {"\xF0\x9F\x80\x84", 4, 2},
  };
  for (const auto& c : cases) {
    const TextUnit unit = NextShownUnit(c.text, 80);
    EXPECT_EQ(unit.bytes, c.bytes) << c.text;
    EXPECT_EQ(unit.cells, c.cells) << c.text;
  }
}

// A two-byte character of a code page such as 932 is one unit of two cells: the wrap moves it
// whole to the next row instead of breaking between its lead and trail bytes.
TEST(CodePageUnit, ALeadByteTakesItsTrailByteAlong) {
  const auto cp932Lead = [](unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
  };
  EXPECT_EQ(CodePageUnit("\x95\x5Cx", cp932Lead).bytes, 2u);
  EXPECT_EQ(CodePageUnit("\x95\x5Cx", cp932Lead).cells, 2);
  EXPECT_EQ(CodePageUnit("x\x95\x5C", cp932Lead).bytes, 1u);
  EXPECT_EQ(CodePageUnit("\x95", cp932Lead).bytes, 1u);  // a lead byte at the end stands alone
  EXPECT_EQ(CodePageUnit("\xE9x", [](unsigned char) { return false; }).cells, 1);
}

// What the user sees as one character is one unit, in the wrap and in the filter alike: a
// letter with its accents, an emoji sequence joined by ZWJ, a flag; one wider than the window
// gives way.
TEST(NextShownUnit, KeepsAUserPerceivedCharacterWhole) {
  const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";  // 3 emoji, 2 ZWJ
  const std::string flag = "\U0001F1EB\U0001F1F7";
  EXPECT_EQ(NextShownUnit("e\xCC\x81\xCC\xA3x", 80).bytes, 5u);
  EXPECT_EQ(NextShownUnit("e\xCC\x81\xCC\xA3x", 80).cells, 1);
  EXPECT_EQ(NextShownUnit(family + "x", 80).bytes, family.size());
  EXPECT_EQ(NextShownUnit(family + "x", 80).cells, 6);
  EXPECT_EQ(NextShownUnit(flag + flag, 80).bytes, flag.size());
  EXPECT_EQ(NextShownUnit(family, 5).bytes, 4u);  // wider than the window: its first emoji
  EXPECT_EQ(NextShownUnit("\r\xCC\x81", 80).bytes, 1u);

  EXPECT_EQ(WrapColored("ae\xCC\x81z", 77, 79), "ae\xCC\x81\n\rz");
  EXPECT_EQ(WrapColored("a" + family, 75, 79), "a\n\r" + family);

  DisplayFilter f;
  std::string out;
  f.Write("abe", 3, out);  // the accent comes in a write of its own
  f.Write("\xCC\x81" "c", 3, out);
  f.Finish(3, out);
  EXPECT_EQ(out, "abe\xCC\x81\r\nc");
  out.clear();
  DisplayFilter g;
  g.Write("ab" + family, 6, out);
  EXPECT_EQ(g.column(), 0);
  g.EndCharacter(6, out);
  EXPECT_EQ(out, "ab\r\n" + family + "\r\n");
  out.clear();
  DisplayFilter narrow;
  narrow.Write(family, 4, out);  // wider than the window: breaks between its emoji
  narrow.Finish(4, out);
  EXPECT_EQ(out, "\U0001F468\u200D\U0001F469\r\n\u200D\U0001F467");
}

// WrapColored on a UTF-8 terminal counts as the filter shows.
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

TEST(InertText, ShowsEveryControlByteAsItsGlyph) {
  EXPECT_EQ(InertText("a\rFound in \nb\tc\bd"), "a\u266AFound in \u25D9b\u25CBc\u25D8d");
  EXPECT_EQ(InertText("plain/caf\xC3\xA9"), "plain/caf\xC3\xA9");
  // A control byte is found at any place of a long path, next to any neighbours; bytes that
  // are not control bytes, high ones included, are left as they are.
  const std::string around = "x\x80 ~\xFF\xC3\xA9!\x7E/";
  for (std::size_t place = 0; place < 20; ++place) {
    for (const char control : {'\x00', '\x01', '\x1F', '\x7F'}) {
      std::string path;
      while (path.size() < 24) path += around;
      EXPECT_EQ(InertText(path), path);
      path[place] = control;
      const std::string shown = InertText(path);
      EXPECT_EQ(shown.find(control), std::string::npos) << "byte " << int(control) << " at " << place;
      EXPECT_EQ(shown.substr(0, place), path.substr(0, place));
    }
  }
}

}  // namespace
