#include "search/scanner.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "search/cpu_features.h"
#include "support/plain_find.h"

namespace {

using qz_test::FindNextPlain;

std::vector<std::size_t> AllMatches(std::string_view content, std::string_view needle) {
  const Scanner scanner(needle);
  std::vector<std::size_t> found;
  for (std::size_t i = scanner.FindNext(content, 0); i != std::string_view::npos;
       i = scanner.FindNext(content, i + 1))
    found.push_back(i);
  return found;
}

// Every occurrence by the plain rule.
std::vector<std::size_t> ReferenceMatches(std::string_view content, std::string_view needle) {
  std::vector<std::size_t> found;
  for (std::size_t i = FindNextPlain(content, needle, 0); i != std::string_view::npos;
       i = FindNextPlain(content, needle, i + 1))
    found.push_back(i);
  return found;
}

using Positions = std::vector<std::size_t>;

TEST(Scanner, FoldsAsciiLettersOnly) {
  EXPECT_EQ(AllMatches("Budget BUDGET budget bUdGeT", "budget"), (Positions{0, 7, 14, 21}));
  EXPECT_EQ(AllMatches("[{@`", "{"), (Positions{1}));
  EXPECT_EQ(AllMatches("[{@`", "`"), (Positions{3}));
  EXPECT_EQ(AllMatches("caf\xC9 caf\xE9", "caf\xE9"), (Positions{5}));
}

TEST(Scanner, FindsOverlappingOccurrences) {
  EXPECT_EQ(AllMatches("aaaa", "aa"), (Positions{0, 1, 2}));
  EXPECT_EQ(AllMatches("abababa", "aba"), (Positions{0, 2, 4}));
}

TEST(Scanner, NeverMatchesAcrossNulOrPastTheEnd) {
  EXPECT_EQ(AllMatches(std::string_view("ab\0ab", 5), "ab"), (Positions{0, 3}));
  EXPECT_EQ(AllMatches(std::string_view("a\0b", 3), "a?b"), Positions{});
  EXPECT_EQ(AllMatches(std::string_view("a\0b", 3), std::string_view("a\0b", 3)), Positions{});
  EXPECT_EQ(AllMatches("budge", "budget"), Positions{});
  EXPECT_EQ(AllMatches("", "x"), Positions{});
}

TEST(Scanner, EmptyNeedleMatchesEveryPositionOfNonEmptyContent) {
  EXPECT_EQ(AllMatches("abc", ""), (Positions{0, 1, 2}));
  EXPECT_EQ(AllMatches("", ""), Positions{});
}

TEST(Scanner, AgreesWithThePlainCompareOnRandomInput) {
  std::mt19937 rng(12345);
  // A small alphabet makes matches, partial matches and overlaps frequent.
  const std::string alphabet = std::string("aAbB\r\n\x1a\0@`[{\xE9\xC9", 14);
  for (int round = 0; round < 3000; ++round) {
    std::string content(rng() % 64, ' '), needle(1 + rng() % 4, ' ');
    for (char& c : content) c = alphabet[rng() % alphabet.size()];
    for (char& c : needle) c = alphabet[rng() % alphabet.size()];
    ASSERT_EQ(AllMatches(content, needle), ReferenceMatches(content, needle))
        << "round " << round;
  }
}

// A long needle over content that nearly matches it at every position: the candidates cost
// too much to verify one by one, and the search goes on with the border table. It must find
// what the plain rule finds, and end: a 100 KB needle over 1 MiB of its first letter once
// took longer than a minute.
TEST(Scanner, LongNearMatchesEverywhereGiveTheSameOccurrences) {
  const std::string needle = std::string(20, 'z') + "e";
  std::string content = std::string(3000, 'z') + "ZZZZZZZZZZZZZZZZZZZZE" + std::string(40, 'z');
  content += std::string("\0", 1) + std::string(19, 'z') + "zE" + std::string(25, 'Z') + "e";
  EXPECT_EQ(AllMatches(content, needle), ReferenceMatches(content, needle));
  EXPECT_EQ(AllMatches(content, needle).size(), 3u);
  // Periodic needles, whose border table sends the search back the furthest.
  EXPECT_EQ(AllMatches(std::string(500, 'a') + "b", "aaab"), Positions{497});
  EXPECT_EQ(AllMatches("abababababababababababababac" + std::string(80, 'x'), "ababac"),
            Positions{22});

  const std::string longNeedle = std::string(100000, 'z') + "e";
  std::string longContent(1 << 20, 'z');
  EXPECT_EQ(Scanner(longNeedle).FindNext(longContent, 0), std::string_view::npos);
  longContent += "e";
  EXPECT_EQ(Scanner(longNeedle).FindNext(longContent, 0), (1u << 20) - 100000);
}

// The same checks through each loop this machine has: the vector loop (where the processor
// has one) and the plain loop. The vector loop goes through the content in blocks of 64 bytes
// (16 on arm64) and leaves the last ones to the plain loop, so the occurrences that matter
// stand across a block's edge, at its first and last positions, and in the part left over.
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

class ScannerLoops : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override { AllowVectorPath(GetParam()); }
  void TearDown() override { AllowVectorPath(true); }
};

TEST_P(ScannerLoops, FindOneOccurrenceAtEveryOffsetAroundBlockEdges) {
  // Needles whose anchors (their rarest bytes) are letters, other bytes, next to each other or
  // apart; the filler holds none of their bytes.
  for (const std::string needle : {"q", "Qz", "k.J", "x\xE9", "needle\tkit"}) {
    for (const std::size_t size : {63, 64, 65, 80, 127, 128, 129, 255, 256, 257, 1100}) {
      if (needle.size() > size) continue;
      for (std::size_t at = 0; at + needle.size() <= size; ++at) {
        std::string content(size, ' ');
        for (std::size_t k = 0; k < size; ++k) content[k] = "ab c\n"[k % 5];
        for (std::size_t k = 0; k < needle.size(); ++k)  // the other case where there is one
          content[at + k] = static_cast<char>(needle[k] ^ (k % 2 && IsLetter(needle[k]) ? 0x20 : 0));
        ASSERT_EQ(AllMatches(content, needle), Positions{at}) << needle << " in " << size;
        // Starting at it, and just after it.
        ASSERT_EQ(Scanner(needle).FindNext(content, at), at);
        ASSERT_EQ(Scanner(needle).FindNext(content, at + 1), std::string_view::npos);
        // The last byte changed: both anchors may still be there, and no occurrence is.
        content[at + needle.size() - 1] = '#';
        ASSERT_EQ(AllMatches(content, needle), ReferenceMatches(content, needle))
            << needle << " in " << size << " at " << at << ", cut short";
      }
    }
  }
}

TEST_P(ScannerLoops, AgreeWithThePlainCompareOnLongRandomInput) {
  std::mt19937 rng(GetParam() ? 2468 : 1357);
  const std::string alphabet = std::string("aAbB \n\0\xE9", 8);
  for (int round = 0; round < 1500; ++round) {
    std::string content(rng() % 400, ' '), needle(1 + rng() % 5, ' ');
    for (char& c : content) c = alphabet[rng() % alphabet.size()];
    for (char& c : needle) c = alphabet[rng() % (alphabet.size() - 2)];  // no NUL
    ASSERT_EQ(AllMatches(content, needle), ReferenceMatches(content, needle))
        << "round " << round;
  }
}

INSTANTIATE_TEST_SUITE_P(VectorAndPlain, ScannerLoops, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "VectorWhereThereIsOne" : "Plain";
                         });

// Asked from any start, the search finds the first occurrence at or after it, also once
// verifying the candidates has cost too much and it goes on with the border table: the
// occurrence right after the candidate where the budget ran out is found too. Contents long
// enough for the vector search's blocks, and shorter ones.
TEST(Scanner, FromEveryStartFindsTheNextOccurrence) {
  const std::string near = std::string(20, 'z') + "e";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {std::string(300, 'z') + "e" + std::string(70, 'z') + "E", near},
      {std::string(40, 'z') + "e", near},
      {std::string(200, 'a') + "b" + std::string(3, 'a') + "b", "aaab"},
      {"xx" + std::string(150, 'z') + std::string("ezz\0", 4) + std::string(30, 'z') + "e", near},
      {std::string(130, 'q') + "Qq", "qq"},
      {std::string(60, '.') + "-" + std::string(25, '.') + "-", std::string(20, '.') + "-"},
  };
  for (const auto& [content, needle] : cases) {
    const Scanner scanner(needle);
    for (std::size_t from = 0; from <= content.size() + 1; ++from)
      ASSERT_EQ(scanner.FindNext(content, from), FindNextPlain(content, needle, from))
          << "needle " << needle << " from " << from << " in " << content.size() << " bytes";
  }
}

// Code page 932 (Shift JIS): lead bytes 0x81-0x9F and 0xE0-0xFC. Katakana A is 83 41 (its
// trail byte is 'A'), katakana DI is 83 61 (its trail byte is 'a').
LeadBytes Cp932() {
  LeadBytes lead;
  lead.AddRange(0x81, 0x9F);
  lead.AddRange(0xE0, 0xFC);
  return lead;
}

TEST(TwoByteScanner, ComparesCharacterByCharacter) {
  const LeadBytes lead = Cp932();
  const Scanner a("\x83\x41", lead);  // katakana A
  EXPECT_TRUE(a.twoByte());
  EXPECT_TRUE(a.MatchesCharactersAt("x\x83\x41", 1));
  EXPECT_FALSE(a.MatchesCharactersAt("\x83\x61", 0));  // DI: a trail byte is never folded
  EXPECT_EQ(a.FindNext("\x83\x61", 0), 0u);           // though the byte search has it
  const Scanner word("aB\x83\x41" "c", lead);
  EXPECT_TRUE(word.MatchesCharactersAt("Ab\x83\x41" "C", 0));
  EXPECT_FALSE(word.MatchesCharactersAt("Ab\x83\x41", 0));  // runs past the end
  // A character of one byte matches only one: never a lead byte that takes the next along.
  const Scanner letter("A", lead);
  EXPECT_TRUE(letter.MatchesCharactersAt("a", 0));
  EXPECT_FALSE(Scanner("\x83", lead).MatchesCharactersAt("\x83\x41", 0));  // ends in a lead byte
  EXPECT_TRUE(Scanner("", lead).MatchesCharactersAt("\x83\x41", 0));
  EXPECT_FALSE(Scanner("x").twoByte());
}

TEST(TwoByteScanner, TheContextAfterNeverEndsInHalfACharacter) {
  const LeadBytes lead = Cp932();
  EXPECT_EQ(WithoutHalfCharacterAtEnd("ab\x83\x41\x83", lead), "ab\x83\x41");
  EXPECT_EQ(WithoutHalfCharacterAtEnd("ab\x83\x83", lead), "ab\x83\x83");  // one character
  EXPECT_EQ(WithoutHalfCharacterAtEnd("ab\x83", LeadBytes()), "ab\x83");
}

TEST(CharacterWalk, FindsCharacterStartsLookingBackOnlyAsFarAsNeeded) {
  const LeadBytes lead = Cp932();
  // 83 83 | 83 41 | 61 | 95 5C | 5C: the first bytes are all lead bytes and pair up.
  const std::string_view text = "\x83\x83\x83\x41\x61\x95\x5C\x5C";
  const std::vector<bool> starts = {true, false, true, false, true, true, false, true};
  CharacterWalk walk(lead);
  for (std::size_t i = 0; i < text.size(); ++i) {
    EXPECT_EQ(walk.StartsCharacter(text, i), starts[i]) << i;
    EXPECT_EQ(walk.StartsCharacter(text, i), starts[i]) << i << " again";
  }
  // Asked about from far on, and past a drop that cuts a character: the window's first byte
  // is then a trail byte.
  for (std::size_t from = 0; from < text.size(); ++from) {
    for (std::size_t drop = 0; drop <= from; ++drop) {
      CharacterWalk later(lead);
      later.BeforeDrop(text, drop);
      later.Dropped(drop);
      EXPECT_EQ(later.StartsCharacter(text.substr(drop), from - drop), starts[from])
          << from << " after dropping " << drop;
    }
  }
}

}  // namespace
