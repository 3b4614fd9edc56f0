#include "console/key_decoder.h"

#include "console/key_codes.h"
#include "console/utf8.h"

namespace {

// PC scan codes for the final letter of "ESC [ x" and "ESC O x".
int ScanCodeForLetter(unsigned char c) {
  switch (c) {
    case 'A': return 72;  // up
    case 'B': return 80;  // down
    case 'C': return 77;  // right
    case 'D': return 75;  // left
    case 'H': return 71;  // home
    case 'F': return 79;  // end
    case 'P': return 59;  // F1
    case 'Q': return 60;  // F2
    case 'R': return 61;  // F3
    case 'S': return 62;  // F4
    default: return 0;
  }
}

// PC scan codes for "ESC [ n ~".
int ScanCodeForNumber(int n) {
  switch (n) {
    case 1: case 7: return 71;   // home
    case 2: return 82;           // insert
    case 3: return 83;           // delete
    case 4: case 8: return 79;   // end
    case 5: return 73;           // page up
    case 6: return 81;           // page down
    case 11: case 12: case 13: case 14: case 15: return 59 + (n - 11);  // F1-F5
    case 17: case 18: case 19: case 20: case 21: return 64 + (n - 17);  // F6-F10
    case 23: return kF11SecondCode;
    case 24: return kF12SecondCode;
    default: return 0;
  }
}

struct Parsed {
  DecodedKey key;
  bool open = false;  // the input ended while the key could still go on
};

Parsed Key(int code, int secondCode, std::size_t used, bool open = false) {
  Parsed p;
  p.key.code = code;
  p.key.secondCode = secondCode;
  p.key.used = used;
  p.open = open;
  return p;
}

unsigned char At(std::string_view bytes, std::size_t i) {
  return static_cast<unsigned char>(bytes[i]);
}

// A key that sends no Esc: one byte, or a UTF-8 character whole, given as its first byte.
Parsed ParseCharacter(std::string_view bytes) {
  const unsigned char first = At(bytes, 0);
  const std::size_t length = Utf8SequenceLength(first) > 1 ? Utf8SequenceLength(first) : 1;
  std::size_t used = 1;
  while (used < length && used < bytes.size() && (At(bytes, used) & 0xC0) == 0x80) ++used;
  return Key(first, -1, used, used < length && used == bytes.size());
}

// "ESC O x": application-mode arrows, F1-F4.
Parsed ParseSs3(std::string_view bytes) {
  if (bytes.size() >= 3) return Key(kTwoCodeKey, ScanCodeForLetter(At(bytes, 2)), 3);
  return Key(0, 'O', 2, true);  // Alt+O until the sequence's last byte comes
}

// "ESC [ [ x": the Linux console's F1-F5.
Parsed ParseLinuxFunctionKey(std::string_view bytes) {
  if (bytes.size() < 4) return Key(kTwoCodeKey, 0, bytes.size(), true);
  const unsigned char c = At(bytes, 3);
  return Key(kTwoCodeKey, (c >= 'A' && c <= 'E') ? 59 + (c - 'A') : 0, 4);
}

// "ESC [", parameters and intermediates, then one final byte.
Parsed ParseCsi(std::string_view bytes) {
  if (bytes.size() > 2 && At(bytes, 2) == '[') return ParseLinuxFunctionKey(bytes);
  int number = 0;
  bool firstParameter = true;
  std::size_t i = 2;
  for (; i < bytes.size(); ++i) {
    const unsigned char c = At(bytes, i);
    if (c >= 0x40 && c <= 0x7E)
      return Key(kTwoCodeKey, c == '~' ? ScanCodeForNumber(number) : ScanCodeForLetter(c), i + 1);
    if (c < 0x20 || c > 0x3F) return Key(kTwoCodeKey, 0, i);  // it broke off before this byte
    if (c == ';') firstParameter = false;
    if (firstParameter && c >= '0' && c <= '9' && number < 1000) number = number * 10 + (c - '0');
  }
  return Key(kTwoCodeKey, 0, i, true);  // no final byte yet: the whole burst belongs to this key
}

// The one grammar of key input, for DecodeKey and KeyMayContinue alike.
Parsed Parse(std::string_view bytes) {
  if (bytes.empty()) return Parsed();
  if (At(bytes, 0) != kEscKey) return ParseCharacter(bytes);
  if (bytes.size() == 1) return Key(kEscKey, -1, 1, true);
  switch (At(bytes, 1)) {
    case 'O': return ParseSs3(bytes);
    case '[': return ParseCsi(bytes);
    default: return Key(0, At(bytes, 1), 2);  // Esc then another key in time: Alt with it
  }
}

}  // namespace

DecodedKey DecodeKey(std::string_view bytes) { return Parse(bytes).key; }

bool KeyMayContinue(std::string_view bytes) { return Parse(bytes).open; }
