// The UTF-8 lead-byte table shared by the display filter and the key decoder.
#ifndef QZ_CONSOLE_UTF8_H_
#define QZ_CONSOLE_UTF8_H_

#include <array>

namespace utf8_detail {
constexpr std::array<unsigned char, 256> MakeLeadLengths() {
  std::array<unsigned char, 256> lengths = {};
  for (int b = 0x00; b <= 0x7F; ++b) lengths[b] = 1;
  for (int b = 0xC2; b <= 0xDF; ++b) lengths[b] = 2;
  for (int b = 0xE0; b <= 0xEF; ++b) lengths[b] = 3;
  for (int b = 0xF0; b <= 0xF4; ++b) lengths[b] = 4;
  return lengths;
}
inline constexpr std::array<unsigned char, 256> kLeadLengths = MakeLeadLengths();
}  // namespace utf8_detail

// The length of the UTF-8 sequence that `lead` starts: 1 for ASCII, 2 to 4 for the lead bytes of
// well-formed sequences (C2-F4), 0 for a byte no well-formed sequence starts with (a
// continuation byte, the overlong leads C0 and C1, F5-FF).
constexpr int Utf8SequenceLength(unsigned char lead) { return utf8_detail::kLeadLengths[lead]; }

#endif  // QZ_CONSOLE_UTF8_H_
