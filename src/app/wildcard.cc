#include "app/wildcard.h"

#include <string>
#include <vector>

#include "search/ascii.h"

namespace {

// A pattern byte as the matcher reads it: the meaning of '*', '?' and '.' depends on what
// follows them, so the pattern is read into these first.
enum class Token : unsigned char {
  Literal,   // one byte, letters folded
  Star,      // any run
  StarToDot, // any run that does not take the name's last dot
  AnyButDot, // one byte other than a dot, or nothing at a dot or the end
  DotOrEnd,  // a dot, or the end of the name
};

struct Item {
  Token token;
  unsigned char byte;  // for Literal
};

std::vector<Item> ReadPattern(std::string_view pattern) {
  std::vector<Item> items;
  items.reserve(pattern.size());
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    const bool last = i + 1 == pattern.size();
    if (c == '*')
      items.push_back({next == '.' && !last ? Token::StarToDot : Token::Star, 0});
    else if (c == '?')
      items.push_back({Token::AnyButDot, 0});
    else if (c == '.' && (last || next == '*' || next == '?'))
      items.push_back({Token::DotOrEnd, 0});
    else
      items.push_back({Token::Literal, FoldAscii(c)});
  }
  return items;
}

}  // namespace

bool MatchWildcard(std::string_view pattern, std::string_view name) {
  // The walk matches every name of a run against one pattern: it is read once, and the rows of
  // the match are kept, so that a name costs no allocation.
  static std::string lastPattern;
  static std::vector<Item> items = ReadPattern(lastPattern);
  static std::vector<char> next, row;
  if (pattern != lastPattern) {
    items = ReadPattern(pattern);
    lastPattern = pattern;
  }
  const std::size_t p = items.size(), n = name.size();
  const std::size_t lastDot = name.rfind('.');

  // row[k]: whether items[k..] match name[j..], for the j of the row being built; `next` is
  // the row of j + 1. Rows are built from the end of the name back to its start.
  next.assign(p + 1, 0);
  row.assign(p + 1, 0);
  for (std::size_t j = n + 1; j-- > 0;) {
    const bool atEnd = j == n;
    const bool atDot = !atEnd && name[j] == '.';
    row[p] = atEnd;
    for (std::size_t k = p; k-- > 0;) {
      const Item& item = items[k];
      bool m = false;
      switch (item.token) {
        case Token::Literal:
          m = !atEnd && FoldAscii(name[j]) == item.byte && next[k + 1];
          break;
        case Token::Star:
          m = row[k + 1] || (!atEnd && next[k]);
          break;
        case Token::StarToDot:
          m = row[k + 1] || (!atEnd && (!atDot || j != lastDot) && next[k]);
          break;
        case Token::AnyButDot:
          m = (atEnd || atDot) ? row[k + 1] : next[k + 1];
          break;
        case Token::DotOrEnd:
          m = atEnd ? row[k + 1] : (atDot && next[k + 1]);
          break;
      }
      row[k] = m;
    }
    std::swap(row, next);
  }
  return next[0];
}
