// File-name wildcards, with the rules by which the platform's long names are matched.
#ifndef QZ_APP_WILDCARD_H_
#define QZ_APP_WILDCARD_H_

#include <cstddef>
#include <string_view>
#include <vector>

#include "app/path_rules.h"

// Whether `name` matches `pattern`, both read as characters of the platform's path code page
// (IsPathLeadByte): a lead byte and the byte after it are one character. ASCII letters that
// are characters of their own match without regard to case, every other character only
// itself (a trail byte is never folded), and:
// - '*' matches any run of characters, also an empty one; a '*' directly before a '.' stops
//   short of the name's last dot, so that "*.txt" takes only names whose last extension is .txt;
// - '?' matches one character other than a dot, or nothing where the name has a dot or has
//   ended ("file?.txt" matches "file1.txt" and "file.txt", "a?b" does not match "a.b");
// - a '.' that ends the pattern or stands before '*' or '?' matches a dot, or the end of the
//   name: "*." matches names without a dot, "notes.*" matches "notes", "a.b.*" matches "a.b",
//   and "*.*" matches every name.
// Time is at most proportional to the product of the two lengths.
bool MatchWildcard(std::string_view pattern, std::string_view name);

// MatchWildcard in the code page whose lead bytes `isLeadByte` tells (nullptr: one byte a
// character).
bool MatchWildcardIn(std::string_view pattern, std::string_view name, LeadByteTest isLeadByte);

// A pattern read once and matched against many names, as MatchWildcardIn matches them: the
// walk matches every name it lists against one. A match allocates nothing once a name as long
// has been matched; one object serves one thread.
class NamePattern {
 public:
  explicit NamePattern(std::string_view pattern, LeadByteTest isLeadByte = IsPathLeadByte);
  bool Matches(std::string_view name) const;

  // A pattern character as the matcher reads it: the meaning of '*', '?' and '.' depends on
  // what follows them, so the pattern is read into these first.
  enum class Token : unsigned char {
    Literal,    // one character, letters folded
    Star,       // any run
    StarToDot,  // any run that does not take the name's last dot
    AnyButDot,  // one character other than a dot, or nothing at a dot or the end
    DotOrEnd,   // a dot, or the end of the name
  };
  struct Item {
    Token token;
    unsigned char length;    // for Literal: 1, or 2 for a lead byte and its trail byte
    unsigned char bytes[2];  // for Literal; a lone byte folded
  };

 private:
  LeadByteTest isLeadByte_;
  std::vector<Item> items_;
  bool takesAll_;  // the pattern takes every name ("*", "*.*" and the like)
  // The rows of the match and where each character of the name begins, kept between names.
  mutable std::vector<char> next_, row_;
  mutable std::vector<std::size_t> starts_;
};

#endif  // QZ_APP_WILDCARD_H_
