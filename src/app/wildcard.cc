#include "app/wildcard.h"

#include <vector>

#include "console/ascii.h"

namespace {

using Token = NamePattern::Token;
using Item = NamePattern::Item;

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
  return NamePattern(pattern).Matches(name);
}

bool MatchWildcardIn(std::string_view pattern, std::string_view name, LeadByteTest isLeadByte) {
  return NamePattern(pattern, isLeadByte).Matches(name);
}

NamePattern::NamePattern(std::string_view pattern, LeadByteTest isLeadByte)
    : isLeadByte_(isLeadByte), items_(ReadPattern(pattern, isLeadByte)) {
  const auto is = [&](std::size_t k, Token token) { return items_[k].token == token; };
  bool stars = true;
  for (std::size_t k = 0; k < items_.size(); ++k) stars = stars && is(k, Token::Star);
  // Up to the last dot, the dot or the end, then anything: every name.
  const bool allDotAll = items_.size() == 3 && is(0, Token::StarToDot) &&
                         is(1, Token::DotOrEnd) && is(2, Token::Star);
  takesAll_ = (stars && !items_.empty()) || allDotAll;
}

bool NamePattern::Matches(std::string_view name) const {
  if (takesAll_) return true;
  const LeadByteTest isLeadByte = isLeadByte_;
  const std::vector<Item>& items = items_;
  std::vector<char>& next = next_;
  std::vector<char>& row = row_;
  std::vector<std::size_t>& starts = starts_;
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
