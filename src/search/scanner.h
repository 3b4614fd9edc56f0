// Finding the search text in a content buffer.
#ifndef QZ_SEARCH_SCANNER_H_
#define QZ_SEARCH_SCANNER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
class Scanner {
 public:
  explicit Scanner(std::string_view needle);

  std::size_t FindNext(std::string_view content, std::size_t from) const;
  const std::string& needle() const { return needle_; }

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
};

// The same contract as Scanner::FindNext, one position at a time with a bounded compare at
// each: the plain rule, kept as the reference the fast scanner is measured and tested against.
std::size_t FindNextPlain(std::string_view content, std::string_view needle, std::size_t from);

#endif  // QZ_SEARCH_SCANNER_H_
