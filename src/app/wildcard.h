// File-name wildcards.
#ifndef QZ_APP_WILDCARD_H_
#define QZ_APP_WILDCARD_H_

#include <string_view>

// Whether `name` matches `pattern`: '*' matches any run of bytes (also an empty one), '?'
// exactly one byte, ASCII letters match without regard to case, every other byte only itself.
// A pattern ending in ".*" also matches names without a dot, so "*.*" matches every name and
// "notes.*" matches "notes". Time is at most proportional to the product of the two lengths.
bool MatchWildcard(std::string_view pattern, std::string_view name);

#endif  // QZ_APP_WILDCARD_H_
