// Finding the search text in a content buffer.
#ifndef QZ_SEARCH_SCANNER_H_
#define QZ_SEARCH_SCANNER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "search/code_page.h"

// Searches buffers for one needle, many times over. Construction picks two bytes of the
// needle that are rare in typical files; the search looks for both at their distance with
// vector instructions where the processor has them, and compares the whole needle only where
// both occur.
//
// FindNext returns the first position p >= from where the needle occurs in `content`, or
// std::string_view::npos. ASCII letters match without regard to case; every other byte, 128 to
// 255 included, matches only itself; a NUL byte in the content never matches, so an occurrence
// never spans one. An empty needle occurs at every position below content.size(). Overlapping
// occurrences are found by calling again with from = p + 1.
//
// Should the candidates cost more to verify than a few compares per byte scanned (a long
// needle over a file that nearly matches it everywhere), the search goes on one byte at a time
// with the needle's border table, so that its time stays proportional to n + m.
//
// In a code page of two-byte characters (`lead` not empty) FindNext still goes by bytes, and
// what it finds is a candidate: an occurrence is a candidate that starts a character of the
// content (CharacterWalk) and that MatchesCharactersAt confirms. Every occurrence is a
// candidate, since bytes equal as characters are equal with their letters folded.
class Scanner {
 public:
  explicit Scanner(std::string_view needle, const LeadBytes& lead = {});

  std::size_t FindNext(std::string_view content, std::size_t from) const;
  const std::string& needle() const { return needle_; }

  // Whether the needle is read in a code page of two-byte characters.
  bool twoByte() const { return !lead_.empty(); }
  const LeadBytes& leadBytes() const { return lead_; }

  // Whether the needle occurs at `at`, character by character: `at` must start a character of
  // `content`. A lead byte and its trail byte match only themselves; a character of one byte
  // matches only a character of one byte, ASCII letters without regard to case; a NUL never
  // matches. A needle that ends in a lead byte ends inside a character wherever it would
  // match, and matches nowhere. Needs twoByte().
  bool MatchesCharactersAt(std::string_view content, std::size_t at) const;

 private:
  bool MatchesAt(const unsigned char* at, std::size_t& spent) const;
  bool OverBudget(std::size_t spent, std::size_t from, std::size_t at) const;
  std::size_t FindLinear(const unsigned char* hay, std::size_t n, std::size_t from) const;
  std::size_t FindScalar(const unsigned char* hay, std::size_t n, std::size_t from) const;
  // The vector search where the processor has it; FindScalar on other processors.
  std::size_t FindWide(const unsigned char* hay, std::size_t n, std::size_t from) const;

  std::string needle_;
  std::string folded_;           // the needle with its letters folded to lower case
  std::size_t anchor1_ = 0;      // positions of the two rarest bytes of the needle
  std::size_t anchor2_ = 0;
  std::vector<std::size_t> border_;  // for each prefix of folded_, its longest proper border
  bool occursNowhere_ = false;   // the needle holds a NUL
  bool useWide_ = false;         // FindWide pays off on this processor
  LeadBytes lead_;
  // For twoByte(): for each byte of the needle, whether it is a character of its own (and is
  // compared folded), and whether the needle ends in a lead byte.
  std::vector<bool> single_;
  bool endsInLeadByte_ = false;
};

// Which bytes of one file's content start a character, in a code page of two-byte characters,
// as the content passes through a sliding window (Occurrences). It keeps one window position
// known to start a character (the content's first byte, to begin with) and decides about a
// later byte by looking back from it to the nearest byte that is no lead byte, or to the known
// start (see LeadBytes): the bytes in between are all lead bytes and pair up. Each call looks
// only at bytes between the last position asked about and this one, so a whole file costs at
// most one look at each byte, and usually a few per candidate.
class CharacterWalk {
 public:
  explicit CharacterWalk(const LeadBytes& lead) : lead_(lead) {}

  // Whether window byte `at` starts a character. Positions are asked about in order: `at` is
  // never before a position asked about earlier (the same one again is fine).
  bool StartsCharacter(std::string_view window, std::size_t at);

  // The window is about to drop its first `count` bytes: `window` is the window as it is now.
  void BeforeDrop(std::string_view window, std::size_t count);
  // The window dropped its first `count` bytes, no more than BeforeDrop was told.
  void Dropped(std::size_t count) { known_ -= count; }

 private:
  const LeadBytes& lead_;
  std::size_t known_ = 0;  // a window position that starts a character
};

// `text`, whose first byte starts a character, without a lead byte that ends it alone: the
// context after an occurrence, cut at its width, never ends in half a character.
std::string_view WithoutHalfCharacterAtEnd(std::string_view text, const LeadBytes& lead);

#endif  // QZ_SEARCH_SCANNER_H_
