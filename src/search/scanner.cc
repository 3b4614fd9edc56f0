#include "search/scanner.h"

#include "search/ascii.h"

std::size_t FindNext(std::string_view content, std::string_view needle, std::size_t from) {
  const std::size_t n = content.size();
  const std::size_t m = needle.size();
  if (from >= n) return std::string_view::npos;
  if (m == 0) return from;
  if (m > n - from) return std::string_view::npos;
  // A NUL in the content never matches, so a needle holding one occurs nowhere; without one,
  // the compare below can never pair a content NUL with a needle byte.
  if (needle.find('\0') != std::string_view::npos) return std::string_view::npos;
  const auto* hay = reinterpret_cast<const unsigned char*>(content.data());
  const auto* pat = reinterpret_cast<const unsigned char*>(needle.data());
  const unsigned char first = FoldAscii(pat[0]);
  for (std::size_t i = from, last = n - m; i <= last; ++i) {
    if (FoldAscii(hay[i]) != first) continue;
    std::size_t j = 1;
    while (j < m && FoldAscii(hay[i + j]) == FoldAscii(pat[j])) ++j;
    if (j == m) return i;
  }
  return std::string_view::npos;
}
