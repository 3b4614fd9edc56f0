#include "app/wildcard.h"

#include <gtest/gtest.h>


namespace {

TEST(Wildcard, StarAndQuestionMark) {
  EXPECT_TRUE(MatchWildcard("*.txt", "notes.txt"));
  EXPECT_TRUE(MatchWildcard("*.txt", ".txt"));
  EXPECT_FALSE(MatchWildcard("*.txt", "notes.txt.bak"));
  EXPECT_TRUE(MatchWildcard("*", ""));
  EXPECT_FALSE(MatchWildcard("", "a"));
  EXPECT_TRUE(MatchWildcard("", ""));
  EXPECT_TRUE(MatchWildcard("a?c", "abc"));
  EXPECT_FALSE(MatchWildcard("a?c", "ac"));
  EXPECT_TRUE(MatchWildcard("a*b*c", "aXXbYYbZZc"));
  EXPECT_FALSE(MatchWildcard("a*b*c", "aXXbYYbZZ"));
  EXPECT_TRUE(MatchWildcard("**a**", "bab"));
}

TEST(Wildcard, LettersFoldOtherBytesDoNot) {
  EXPECT_TRUE(MatchWildcard("*.TXT", "Notes.txt"));
  EXPECT_TRUE(MatchWildcard("REPORT.doc", "report.DOC"));
  EXPECT_FALSE(MatchWildcard("[", "{"));   // differ by 0x20, but are not letters
  EXPECT_FALSE(MatchWildcard("@", "`"));
  EXPECT_FALSE(MatchWildcard("\xC9", "\xE9"));  // bytes above 127 match only themselves
  EXPECT_TRUE(MatchWildcard("caf\xE9*", "caf\xE9.txt"));
}

TEST(Wildcard, TrailingDotStarAlsoMatchesNamesWithoutADot) {
  EXPECT_TRUE(MatchWildcard("*.*", "Makefile"));
  EXPECT_TRUE(MatchWildcard("*.*", "a.b.c"));
  EXPECT_TRUE(MatchWildcard("notes.*", "notes"));
  EXPECT_TRUE(MatchWildcard("notes.*", "notes.md"));
  EXPECT_FALSE(MatchWildcard("notes.*", "notesx"));
  EXPECT_FALSE(MatchWildcard("*.txt", "txt"));
}

TEST(Wildcard, DotsFollowTheLongNameRules) {
  EXPECT_TRUE(MatchWildcard("*.", "Makefile"));   // no dot at all
  EXPECT_FALSE(MatchWildcard("*.", "notes.txt"));
  EXPECT_TRUE(MatchWildcard("a.b.*", "a.b"));
  EXPECT_TRUE(MatchWildcard("a.b.*", "A.B.c"));
  EXPECT_FALSE(MatchWildcard("a.b.*", "a.bc"));
  EXPECT_TRUE(MatchWildcard("*.txt", "old.notes.txt"));
  EXPECT_TRUE(MatchWildcard("*.c*", "a.c.d.e"));  // the star may pass dots but the last
  EXPECT_TRUE(MatchWildcard("*.?", "notes.c"));
  EXPECT_TRUE(MatchWildcard("*.?", "notes"));
  EXPECT_FALSE(MatchWildcard("*.?", "notes.cc"));

  // '?' takes any byte but a dot, and nothing before a dot or at the end.
  EXPECT_TRUE(MatchWildcard("file?.txt", "file1.txt"));
  EXPECT_TRUE(MatchWildcard("file?.txt", "file.txt"));
  EXPECT_FALSE(MatchWildcard("a?b", "a.b"));
  EXPECT_TRUE(MatchWildcard("ab??", "ab"));
  EXPECT_FALSE(MatchWildcard("ab??", "abcde"));
}

// The lead bytes of code page 932 (Shift JIS).
bool Cp932LeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

TEST(Wildcard, ADoubleByteCharacterIsOneCharacter) {
  const std::string a = "\x83\x41";      // katakana A: its trail byte is 'A'
  const std::string table = "\x95\x5C";  // a kanji whose trail byte is '\\'
  EXPECT_FALSE(MatchWildcardIn("*a.txt", a + ".txt", Cp932LeadByte));
  EXPECT_TRUE(MatchWildcardIn("*a.txt", a + "a.txt", Cp932LeadByte));
  EXPECT_TRUE(MatchWildcardIn("?.txt", table + ".txt", Cp932LeadByte));
  EXPECT_FALSE(MatchWildcardIn("?.txt", table + table + ".txt", Cp932LeadByte));
  EXPECT_TRUE(MatchWildcardIn(a + "*", a + ".txt", Cp932LeadByte));
  EXPECT_FALSE(MatchWildcardIn("\x83\x61*", a + ".txt", Cp932LeadByte));  // trail not folded
  EXPECT_TRUE(MatchWildcardIn("*.?", "x." + table, Cp932LeadByte));
  // Read a byte at a time, the same names match otherwise.
  EXPECT_TRUE(MatchWildcardIn("*a.txt", a + ".txt", nullptr));
  EXPECT_FALSE(MatchWildcardIn("?.txt", table + ".txt", nullptr));
}

TEST(Wildcard, HostilePatternsStayFast) {
  // Greedy backtracking would take exponential time here; a wrong answer or a hang fails.
  const std::string name(2000, 'a');
  const std::string pattern = std::string(30, '*') + "a*a*a*a*a*a*a*a*a*b";
  EXPECT_FALSE(MatchWildcard(pattern, name));
  EXPECT_TRUE(MatchWildcard(pattern, name + "b"));
}

}  // namespace
