// The search rule applied one position at a time, with a bounded compare at each: the
// reference the fast scanner is tested and fuzzed against. Plain loops, as in
// plain_text_mode.h, so that a fuzz build runs it at full speed.
#ifndef QZ_TESTS_SUPPORT_PLAIN_FIND_H_
#define QZ_TESTS_SUPPORT_PLAIN_FIND_H_

#include <cstddef>
#include <string_view>

// A fuzz target defines this to keep the reference out of the coverage that guides it.
#ifndef QZ_REFERENCE
#define QZ_REFERENCE
#endif

namespace qz_test {

// The same contract as Scanner::FindNext: the first position p >= `from` where `needle`
// occurs in `content`, ASCII letters folded, every other byte only itself, a content NUL never
// part of an occurrence; an empty needle occurs at every position below content.size().
QZ_REFERENCE inline std::size_t FindNextPlain(std::string_view content, std::string_view needle,
                                              std::size_t from) {
  const auto fold = [](unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
  };
  const std::size_t n = content.size(), m = needle.size();
  for (std::size_t i = from; i < n; ++i) {
    std::size_t j = 0;
    while (j < m && i + j < n && content[i + j] != '\0' &&
           fold(static_cast<unsigned char>(content[i + j])) ==
               fold(static_cast<unsigned char>(needle[j])))
      ++j;
    if (j == m) return i;
  }
  return std::string_view::npos;
}

}  // namespace qz_test

#endif  // QZ_TESTS_SUPPORT_PLAIN_FIND_H_
