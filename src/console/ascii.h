// ASCII case folding: the one rule by which the tool compares letters, in texts, names and the
// names of locales. It includes nothing of the tool's own, so that every layer may include it.
#ifndef QZ_CONSOLE_ASCII_H_
#define QZ_CONSOLE_ASCII_H_

// A to Z become a to z; every other byte, 128 to 255 included, stays as it is.
constexpr unsigned char FoldAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}
constexpr unsigned char FoldAscii(char c) { return FoldAscii(static_cast<unsigned char>(c)); }

#endif  // QZ_CONSOLE_ASCII_H_
