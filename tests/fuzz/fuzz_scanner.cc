// Scanner::FindNext against FindNextPlain, over every occurrence and from arbitrary starts, and
// CountCrLf against a plain count. Input: the needle's length (0-63), the needle, the content.
// The content is copied into a buffer of its own exact size, so that reading past its end is
// caught.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "fuzz_check.h"
#define QZ_REFERENCE FUZZ_REFERENCE
#include "support/plain_find.h"
#include "search/scanner.h"
#include "search/text_mode.h"

using qz_test::FindNextPlain;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t needleLength = data[0] % 64;
  if (size < 1 + needleLength) return 0;
  const std::string_view needle(reinterpret_cast<const char*>(data) + 1, needleLength);
  const std::size_t n = size - 1 - needleLength;
  auto copy = std::make_unique<char[]>(n);
  std::memcpy(copy.get(), data + 1 + needleLength, n);
  const std::string_view content(copy.get(), n);

  const Scanner scanner(needle);
  FUZZ_CHECK(scanner.needle() == needle);
  std::size_t from = 0;
  for (;;) {
    const std::size_t fast = scanner.FindNext(content, from);
    const std::size_t plain = FindNextPlain(content, needle, from);
    FUZZ_CHECK(fast == plain);
    if (fast == std::string_view::npos) break;
    FUZZ_CHECK(fast >= from && fast < n);
    from = fast + 1;
  }
  // From every start in a stride through the content, and past its end.
  for (std::size_t start = 0; start <= n + 1; start += 1 + n / 16)
    FUZZ_CHECK(scanner.FindNext(content, start) == FindNextPlain(content, needle, start));

  std::uint64_t pairs = 0;
  for (std::size_t i = 0; i + 1 < n; ++i) pairs += content[i] == '\r' && content[i + 1] == '\n';
  FUZZ_CHECK(CountCrLf(content) == pairs);
  return 0;
}
