// TranslateTextMode against the text-mode rule applied one byte at a time. The first input
// byte chooses where the data is cut into two parts, as a stream that reads a file in parts
// would cut it; each part is translated in a buffer of its own exact size.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#define QZ_REFERENCE FUZZ_REFERENCE
#include "support/plain_text_mode.h"
#include "search/text_mode.h"

namespace {

void CheckPart(std::string_view raw) {
  auto copy = std::make_unique<char[]>(raw.size());  // exactly, so that reading past is caught
  std::memcpy(copy.get(), raw.data(), raw.size());
  bool sawEnd = true;
  const std::size_t n = TranslateTextMode(copy.get(), raw.size(), sawEnd);
  bool expectedEnd = false;
  const std::string expected = qz_test::PlainTextMode(raw, &expectedEnd);
  FUZZ_CHECK(sawEnd == expectedEnd);
  FUZZ_CHECK(std::string_view(copy.get(), n) == expected);

  std::string whole(raw);
  TranslateTextMode(whole);
  FUZZ_CHECK(whole == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view raw(reinterpret_cast<const char*>(data) + 1, size - 1);
  CheckPart(raw);
  const std::size_t cut = raw.size() * data[0] / 255;
  CheckPart(raw.substr(0, cut));
  CheckPart(raw.substr(cut));
  return 0;
}
