// A file's occurrences as the search finds them (ContentStream and Occurrences, in the lazy
// and the translated text mode) against the plain rule: the file translated one byte at a time
// and compared at every position.
//
// Input: a flags byte, a byte that shifts the filler back, the needle's length (0-16), the needle,
// then the file's bytes. Now and then the flags put a filler in front of the file's bytes, just
// short of a seam between parts or of the size from which files are mapped, so that the fuzzed
// bytes straddle it. The file is written to a memfd once per input and opened by its /proc
// path.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#define QZ_REFERENCE FUZZ_REFERENCE
#include "support/plain_text_mode.h"
#include "search/content_stream.h"
#include "search/occurrences.h"
#include "search/scanner.h"

namespace {

struct Found {
  std::uint64_t position;
  std::string before, match, after;
  bool operator==(const Found&) const = default;
};

// The references below keep to plain loops over pointers: the standard library's templates
// would be instrumented for coverage and slow them down tenfold.
using qz_test::PlainTextMode;

FUZZ_REFERENCE bool PlainMatchAt(const char* content, std::size_t size, std::size_t at,
                                 const char* needle, std::size_t m) {
  if (m > size - at) return false;
  for (std::size_t j = 0; j < m; ++j) {
    auto c = static_cast<unsigned char>(content[at + j]);
    auto n = static_cast<unsigned char>(needle[j]);
    if (c == 0) return false;
    if (c >= 'A' && c <= 'Z') c += 32;
    if (n >= 'A' && n <= 'Z') n += 32;
    if (c != n) return false;
  }
  return true;
}

FUZZ_REFERENCE std::vector<Found> Expected(std::string_view raw, std::string_view needle) {
  const std::string content = PlainTextMode(raw);
  std::vector<Found> found;
  const std::size_t size = content.size();
  for (std::size_t p = 0; p < size; ++p) {
    if (!PlainMatchAt(content.data(), size, p, needle.data(), needle.size())) continue;
    const std::size_t from = p > kContextWidth ? p - kContextWidth : 0;
    found.push_back({p, content.substr(from, p - from), content.substr(p, needle.size()),
                     content.substr(p + needle.size(), kContextWidth)});
  }
  return found;
}

std::vector<Found> Search(const std::string& path, bool knownRegular, std::string_view needle,
                          bool lazy) {
  static std::string buffer;  // reused from file to file, as the tool does
  ContentStream stream(buffer);
  std::vector<Found> found;
  FUZZ_CHECK(stream.Open(path, knownRegular, lazy) == OpenResult::Opened);
  const Scanner scanner(needle);
  Occurrences occurrences(stream, scanner);
  std::uint64_t position;
  MatchView view;
  for (Occurrences::Step step; (step = occurrences.Next(position, view)) != Occurrences::Step::Done;) {
    if (step != Occurrences::Step::Found) continue;
    found.push_back({position, std::string(view.before), std::string(view.match),
                     std::string(view.after)});
    FUZZ_CHECK(found.size() <= 1000000);
  }
  return found;
}

// The positions alone, found as a run with no one to show them finds them (no context built,
// the content left streaming).
std::vector<std::uint64_t> Positions(const std::string& path, bool knownRegular,
                                     std::string_view needle, bool lazy) {
  static std::string buffer;
  ContentStream stream(buffer);
  std::vector<std::uint64_t> found;
  FUZZ_CHECK(stream.Open(path, knownRegular, lazy) == OpenResult::Opened);
  const Scanner scanner(needle);
  Occurrences occurrences(stream, scanner);
  std::uint64_t position;
  for (Occurrences::Step step; (step = occurrences.Next(position)) != Occurrences::Step::Done;) {
    if (step == Occurrences::Step::Found) found.push_back(position);
    FUZZ_CHECK(found.size() <= 1000000);
  }
  return found;
}

// A filler byte the needle cannot match.
char FillerByte(std::string_view needle) {
  for (char c : std::string_view("fxqzjkvw0123456789")) {
    bool used = false;
    for (char n : needle) used |= (n | 0x20) == c || n == c;
    if (!used) return c;
  }
  return '!';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const int fd = memfd_create("qz-fuzz", 0);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  FUZZ_CHECK(fd >= 0);
  if (size < 3) return 0;
  const std::uint8_t flags = data[0];
  const std::size_t shift = data[1];
  const std::size_t needleLength = data[2] % 17;
  if (size < 3 + needleLength) return 0;
  const std::string needle(reinterpret_cast<const char*>(data) + 3, needleLength);
  const std::string_view tail(reinterpret_cast<const char*>(data) + 3 + needleLength,
                              size - 3 - needleLength);

  std::size_t fillerLength = 0;
  if ((flags & 15) == 15) {
    switch ((flags >> 5) & 3) {
      case 0: fillerLength = ContentStream::kPartSize; break;
      case 1: fillerLength = 2 * ContentStream::kPartSize; break;
      default: fillerLength = ContentStream::kMapThreshold; break;
    }
  }
  fillerLength = fillerLength > shift ? fillerLength - shift : 0;
  if (needle.empty()) fillerLength = 0;  // it would occur at every byte of the filler
  std::string raw;
  raw.reserve(fillerLength + tail.size());
  // CR LF pairs cost the translation a move each: only in front of the smaller seams.
  const bool lineFiller = (flags & 128) && fillerLength < ContentStream::kMapThreshold / 2 &&
                          needle.find_first_of("\r\n") == std::string::npos;
  if (lineFiller) {
    while (raw.size() + 1 < fillerLength) raw += "\r\n";
  }
  raw.append(fillerLength - raw.size(), FillerByte(needle));
  raw += tail;

  FUZZ_CHECK(ftruncate(fd, 0) == 0);
  FUZZ_CHECK(pwrite(fd, raw.data(), raw.size(), 0) == static_cast<ssize_t>(raw.size()));
  const bool knownRegular = flags & 16;

  const std::vector<Found> expected = Expected(raw, needle);
  FUZZ_CHECK(Search(path, knownRegular, needle, false) == expected);
  // The lazy mode is for texts with no LF, as the search chooses.
  const bool lazy = !needle.empty() && needle.find('\n') == std::string::npos;
  if (lazy) FUZZ_CHECK(Search(path, knownRegular, needle, true) == expected);
  std::vector<std::uint64_t> positions;
  for (const Found& each : expected) positions.push_back(each.position);
  FUZZ_CHECK(Positions(path, knownRegular, needle, lazy) == positions);
  return 0;
}
