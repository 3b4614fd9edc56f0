// File-name wildcards, with the rules by which the platform's long names are matched.
#ifndef QZ_APP_WILDCARD_H_
#define QZ_APP_WILDCARD_H_

#include <string_view>

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
// Time is at most proportional to the product of the two lengths. Keeps the last pattern read
// between calls (one thread only).
bool MatchWildcard(std::string_view pattern, std::string_view name);

// MatchWildcard in the code page whose lead bytes `isLeadByte` tells (nullptr: one byte a
// character).
bool MatchWildcardIn(std::string_view pattern, std::string_view name, LeadByteTest isLeadByte);

#endif  // QZ_APP_WILDCARD_H_
