// Finding the search text in a content buffer.
#ifndef QZ_SEARCH_SCANNER_H_
#define QZ_SEARCH_SCANNER_H_

#include <cstddef>
#include <string_view>

// Returns the first position p >= from where `needle` occurs in `content`, or
// std::string_view::npos. ASCII letters match without regard to case; every other byte,
// 128 to 255 included, matches only itself; a NUL byte in the content never matches, so an
// occurrence never spans one. An empty needle occurs at every position below content.size().
// Overlapping occurrences are found by calling again with from = p + 1.
std::size_t FindNext(std::string_view content, std::string_view needle, std::size_t from);

#endif  // QZ_SEARCH_SCANNER_H_
