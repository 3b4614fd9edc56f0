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

  // '?' takes any byte but a dot, and nothing before a dot or at the end.
  EXPECT_TRUE(MatchWildcard("file?.txt", "file1.txt"));
  EXPECT_TRUE(MatchWildcard("file?.txt", "file.txt"));
  EXPECT_FALSE(MatchWildcard("a?b", "a.b"));
  EXPECT_TRUE(MatchWildcard("ab??", "ab"));
  EXPECT_FALSE(MatchWildcard("ab??", "abcde"));
}

TEST(Wildcard, HostilePatternsStayFast) {
  // Greedy backtracking would take exponential time here; a wrong answer or a hang fails.
  const std::string name(2000, 'a');
  const std::string pattern = std::string(30, '*') + "a*a*a*a*a*a*a*a*a*b";
  EXPECT_FALSE(MatchWildcard(pattern, name));
  EXPECT_TRUE(MatchWildcard(pattern, name + "b"));
}

}  // namespace
