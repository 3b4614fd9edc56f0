// Turning the bytes a terminal sends for one key press into the console's key codes.
#ifndef QZ_CONSOLE_KEY_DECODER_H_
#define QZ_CONSOLE_KEY_DECODER_H_

#include <cstddef>
#include <string_view>

struct DecodedKey {
  int code = -1;          // first code: 1-255, 224 for keys without a character, 0 for Alt+key
                          // (or for the NUL byte a terminal sends for Ctrl+Space)
  int secondCode = -1;    // the key's second code for 224 and Alt+key, else -1
  std::size_t used = 0;   // bytes of the input that belong to this key
};

// Decodes the first key in `bytes`: what the terminal sent in one burst, the Esc byte and the
// bytes that followed it within the Esc timeout. A lone Esc is 27. An escape sequence (CSI or
// SS3: arrows, Home, End, Insert, Delete, Page Up/Down, F1-F12) gives 224 and the PC scan code
// of the key as its second code (0 for sequences it does not know). Esc followed by any other
// byte is Alt with that key: 0, then the byte. A UTF-8 character is taken whole and gives its
// lead byte. Returns code -1 and used 0 for empty input.
DecodedKey DecodeKey(std::string_view bytes);

// Whether the key that `bytes` starts may still go on: an Esc alone, an escape sequence
// without its final byte, a UTF-8 character without all its bytes. When it may, DecodeKey
// gives the whole of `bytes` to the key; when not, DecodeKey's answer for the first key stays
// the same whatever follows. False for empty input.
bool KeyMayContinue(std::string_view bytes);

#endif  // QZ_CONSOLE_KEY_DECODER_H_
