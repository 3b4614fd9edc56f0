// DecodeKey over arbitrary bursts of terminal input: every key takes at least one byte and no
// more than there are, its codes are in range, and decoding key after key uses up the burst.
// KeyMayContinue agrees with DecodeKey at every cut of the burst: while a key may go on it takes
// all the bytes so far, and once it may not, the bytes that follow change nothing about it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "console/key_decoder.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const DecodedKey none = DecodeKey(bytes.substr(0, 0));
  FUZZ_CHECK(none.code == -1 && none.used == 0);
  std::size_t keys = 0;
  while (!bytes.empty()) {
    const DecodedKey key = DecodeKey(bytes);
    FUZZ_CHECK(key.used >= 1 && key.used <= bytes.size());
    FUZZ_CHECK(key.code >= 0 && key.code <= 255);
    // Anything but Esc is that byte's key, with no second code (a NUL byte is 0, and the lead
    // byte 224 of a character is 224); a lone Esc is 27; what Esc starts has a second code
    // when its first is 0 or 224.
    const auto first = static_cast<unsigned char>(bytes[0]);
    if (first != 0x1B) {
      FUZZ_CHECK(key.code == first && key.secondCode == -1);
    } else if (key.code == 0 || key.code == 224) {
      FUZZ_CHECK(key.secondCode >= 0 && key.secondCode <= 255);
    } else {
      FUZZ_CHECK(key.code == 27 && key.secondCode == -1);
    }
    if (bytes.size() == 1 && first == 0x1B) FUZZ_CHECK(key.code == 27);
    bytes.remove_prefix(key.used);
    ++keys;
  }
  FUZZ_CHECK(keys <= size);

  const std::string_view burst(reinterpret_cast<const char*>(data), size);
  const DecodedKey whole = DecodeKey(burst);
  for (std::size_t cut = 1; cut <= burst.size(); ++cut) {
    const std::string_view prefix = burst.substr(0, cut);
    const DecodedKey first = DecodeKey(prefix);
    if (KeyMayContinue(prefix)) {
      FUZZ_CHECK(first.used == prefix.size());
    } else {
      FUZZ_CHECK(first.code == whole.code && first.secondCode == whole.secondCode &&
                 first.used == whole.used);
      break;  // the key is settled; later cuts belong to the keys after it
    }
  }
  FUZZ_CHECK(!KeyMayContinue(burst.substr(0, 0)));
  return 0;
}
