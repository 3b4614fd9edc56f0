// The text-mode rule applied one byte at a time: the reference the fast translation and the
// content stream are tested and fuzzed against. Plain loops over pointers, so that a fuzz
// build, which instruments the standard library's templates, runs it at full speed.
#ifndef QZ_TESTS_SUPPORT_PLAIN_TEXT_MODE_H_
#define QZ_TESTS_SUPPORT_PLAIN_TEXT_MODE_H_

#include <cstddef>
#include <random>
#include <string>
#include <string_view>

// A fuzz target defines this to keep the reference out of the coverage that guides it.
#ifndef QZ_REFERENCE
#define QZ_REFERENCE
#endif

namespace qz_test {

// CR directly before LF is dropped, a lone CR stays, the first byte 26 ends the content (and
// sets `sawEnd`, when given).
QZ_REFERENCE inline std::string PlainTextMode(std::string_view raw, bool* sawEnd = nullptr) {
  std::string out(raw.size(), '\0');
  const char* in = raw.data();
  const std::size_t n = raw.size();
  char* to = out.data();
  std::size_t length = 0;
  if (sawEnd) *sawEnd = false;
  for (std::size_t i = 0; i < n; ++i) {
    if (in[i] == 26) {
      if (sawEnd) *sawEnd = true;
      break;
    }
    if (in[i] == '\r' && i + 1 < n && in[i + 1] == '\n') continue;
    to[length++] = in[i];
  }
  out.resize(length);
  return out;
}

// `size` bytes drawn from `alphabet`: text dense in the bytes the text-mode rules act on.
inline std::string RandomText(std::mt19937& rng, std::size_t size, std::string_view alphabet) {
  std::string s(size, ' ');
  for (char& c : s) c = alphabet[rng() % alphabet.size()];
  return s;
}

}  // namespace qz_test

#endif  // QZ_TESTS_SUPPORT_PLAIN_TEXT_MODE_H_
