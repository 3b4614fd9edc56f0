#include "console/key_decoder.h"

#include "console/utf8.h"

namespace {

constexpr unsigned char kEsc = 0x1B;
constexpr int kTwoCode = 224;

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
    case 23: return 133;         // F11
    case 24: return 134;         // F12
    default: return 0;
  }
}

struct Parsed {
  DecodedKey key;
  bool open = false;  // the input ended while the key could still go on
};

// The one grammar of key input, for DecodeKey and KeyMayContinue alike.
Parsed Parse(std::string_view bytes) {
  Parsed p;
  DecodedKey& key = p.key;
  if (bytes.empty()) return p;
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char first = at(0);

  if (first != kEsc) {
    key.code = first;
    const std::size_t length = Utf8SequenceLength(first) > 1 ? Utf8SequenceLength(first) : 1;
    std::size_t used = 1;
    while (used < length && used < bytes.size() && (at(used) & 0xC0) == 0x80) ++used;
    key.used = used;
    p.open = used < length && used == bytes.size();
    return p;
  }
  if (bytes.size() == 1) {
    key.code = kEsc;
    key.used = 1;
    p.open = true;
    return p;
  }

  const unsigned char intro = at(1);
  if (intro == 'O') {  // SS3: application-mode arrows, F1-F4
    if (bytes.size() >= 3) {
      key.code = kTwoCode;
      key.secondCode = ScanCodeForLetter(at(2));
      key.used = 3;
      return p;
    }
    // Alt+O until the sequence's last byte comes.
    key.code = 0;
    key.secondCode = intro;
    key.used = 2;
    p.open = true;
    return p;
  }
  if (intro == '[') {  // CSI: parameters and intermediates, then one final byte
    key.code = kTwoCode;
    key.secondCode = 0;
    std::size_t i = 2;
    if (i < bytes.size() && at(i) == '[') {  // the Linux console's "ESC [ [ A" for F1-F5
      if (i + 1 < bytes.size()) {
        key.secondCode = (at(i + 1) >= 'A' && at(i + 1) <= 'E') ? 59 + (at(i + 1) - 'A') : 0;
        key.used = i + 2;
      } else {
        key.used = bytes.size();
        p.open = true;
      }
      return p;
    }
    int number = 0;
    bool firstParameter = true;
    for (; i < bytes.size(); ++i) {
      const unsigned char c = at(i);
      if (c >= 0x40 && c <= 0x7E) {
        key.secondCode = (c == '~') ? ScanCodeForNumber(number) : ScanCodeForLetter(c);
        key.used = i + 1;
        return p;
      }
      if (c < 0x20 || c > 0x3F) {  // not part of a CSI sequence: it broke off before this byte
        key.used = i;
        return p;
      }
      if (c == ';') firstParameter = false;
      if (firstParameter && c >= '0' && c <= '9' && number < 1000) number = number * 10 + (c - '0');
    }
    key.used = i;  // no final byte yet: the whole burst belongs to this key
    p.open = true;
    return p;
  }
  // Esc then another key within the timeout: Alt with that key.
  key.code = 0;
  key.secondCode = intro;
  key.used = 2;
  return p;
}

}  // namespace

DecodedKey DecodeKey(std::string_view bytes) { return Parse(bytes).key; }

bool KeyMayContinue(std::string_view bytes) { return Parse(bytes).open; }
