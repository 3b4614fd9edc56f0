#include "app/wildcard.h"

#include <string>
#include <vector>

#include "search/ascii.h"

namespace {

// A pattern character as the matcher reads it: the meaning of '*', '?' and '.' depends on what
// follows them, so the pattern is read into these first.
enum class Token : unsigned char {
  Literal,   // one character, letters folded
  Star,      // any run
  StarToDot, // any run that does not take the name's last dot
  AnyButDot, // one character other than a dot, or nothing at a dot or the end
  DotOrEnd,  // a dot, or the end of the name
};

struct Item {
  Token token;
  unsigned char length;      // for Literal: 1, or 2 for a lead byte and its trail byte
  unsigned char bytes[2];    // for Literal; a lone byte folded
};

// The length of the character at `i` of `text`: 2 for a lead byte with a byte after it.
std::size_t CharacterLength(std::string_view text, std::size_t i, LeadByteTest isLeadByte) {
  return isLeadByte && i + 1 < text.size() && isLeadByte(static_cast<unsigned char>(text[i]))
             ? 2 : 1;
}

std::vector<Item> ReadPattern(std::string_view pattern, LeadByteTest isLeadByte) {
  std::vector<Item> items;
  items.reserve(pattern.size());
  for (std::size_t i = 0; i < pattern.size();) {
    const std::size_t length = CharacterLength(pattern, i, isLeadByte);
    const char c = pattern[i];
    if (length == 2) {
      items.push_back({Token::Literal, 2,
                       {static_cast<unsigned char>(c), static_cast<unsigned char>(pattern[i + 1])}});
      i += 2;
      continue;
    }
    // A lead byte is never '*', '?' or '.', so the next byte tells the next character.
    const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    const bool last = i + 1 == pattern.size();
    if (c == '*')
      items.push_back({next == '.' && !last ? Token::StarToDot : Token::Star, 0, {}});
    else if (c == '?')
      items.push_back({Token::AnyButDot, 0, {}});
    else if (c == '.' && (last || next == '*' || next == '?'))
      items.push_back({Token::DotOrEnd, 0, {}});
    else
      items.push_back({Token::Literal, 1, {FoldAscii(c), 0}});
    ++i;
  }
  return items;
}

}  // namespace

bool MatchWildcard(std::string_view pattern, std::string_view name) {
  return MatchWildcardIn(pattern, name, IsPathLeadByte);
}

bool MatchWildcardIn(std::string_view pattern, std::string_view name, LeadByteTest isLeadByte) {
  // The walk matches every name of a run against one pattern: it is read once, and the rows of
  // the match are kept, so that a name costs no allocation.
  static std::string lastPattern;
  static LeadByteTest lastTest = nullptr;
  static std::vector<Item> items = ReadPattern(lastPattern, lastTest);
  static std::vector<char> next, row;
  static std::vector<std::size_t> starts;  // where each character of the name begins
  static bool takesAll = false;  // the pattern takes every name ("*", "*.*" and the like)
  if (pattern != lastPattern || isLeadByte != lastTest) {
    items = ReadPattern(pattern, isLeadByte);
    lastPattern = pattern;
    lastTest = isLeadByte;
    const auto is = [&](std::size_t k, Token token) { return items[k].token == token; };
    bool stars = true;
    for (std::size_t k = 0; k < items.size(); ++k) stars = stars && is(k, Token::Star);
    // Up to the last dot, the dot or the end, then anything: every name.
    const bool allDotAll = items.size() == 3 && is(0, Token::StarToDot) &&
                           is(1, Token::DotOrEnd) && is(2, Token::Star);
    takesAll = (stars && !items.empty()) || allDotAll;
  }
  if (takesAll) return true;
  starts.clear();
  for (std::size_t i = 0; i < name.size(); i += CharacterLength(name, i, isLeadByte))
    starts.push_back(i);
  const std::size_t p = items.size(), n = starts.size();
  starts.push_back(name.size());
  const auto isDot = [&](std::size_t j) {
    return starts[j + 1] - starts[j] == 1 && name[starts[j]] == '.';
  };
  std::size_t lastDot = n;  // the last character that is a dot; n when none is
  for (std::size_t j = n; j-- > 0;) {
    if (isDot(j)) {
      lastDot = j;
      break;
    }
  }

  // row[k]: whether items[k..] match the characters from j on, for the j of the row being
  // built; `next` is the row of j + 1. Rows are built from the end of the name back to its
  // start.
  next.assign(p + 1, 0);
  row.assign(p + 1, 0);
  for (std::size_t j = n + 1; j-- > 0;) {
    const bool atEnd = j == n;
    const bool atDot = !atEnd && isDot(j);
    const std::size_t at = starts[j];
    const std::size_t length = atEnd ? 0 : starts[j + 1] - at;
    row[p] = atEnd;
    for (std::size_t k = p; k-- > 0;) {
      const Item& item = items[k];
      bool m = false;
      switch (item.token) {
        case Token::Literal:
          m = !atEnd && length == item.length && next[k + 1] &&
              (length == 1 ? FoldAscii(name[at]) == item.bytes[0]
                           : static_cast<unsigned char>(name[at]) == item.bytes[0] &&
                                 static_cast<unsigned char>(name[at + 1]) == item.bytes[1]);
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
