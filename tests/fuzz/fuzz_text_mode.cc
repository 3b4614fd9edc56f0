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
#include "search/text_mode.h"

namespace {

struct Plain {
  std::string content;
  bool sawEnd = false;
};

// CR directly before LF is dropped, a lone CR stays, the first byte 26 ends the content.
FUZZ_REFERENCE Plain PlainTextMode(std::string_view raw) {
  Plain out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == 26) {
      out.sawEnd = true;
      break;
    }
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    out.content += raw[i];
  }
  return out;
}

void CheckPart(std::string_view raw) {
  auto copy = std::make_unique<char[]>(raw.size());  // exactly, so that reading past is caught
  std::memcpy(copy.get(), raw.data(), raw.size());
  bool sawEnd = true;
  const std::size_t n = TranslateTextMode(copy.get(), raw.size(), sawEnd);
  const Plain expected = PlainTextMode(raw);
  FUZZ_CHECK(sawEnd == expected.sawEnd);
  FUZZ_CHECK(std::string_view(copy.get(), n) == expected.content);

  std::string whole(raw);
  TranslateTextMode(whole);
  FUZZ_CHECK(whole == expected.content);
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
