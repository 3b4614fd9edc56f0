#include "search/text_mode.h"

#include <cstring>

void TranslateTextMode(std::string& bytes) {
  if (const void* eof = std::memchr(bytes.data(), 26, bytes.size()))
    bytes.resize(static_cast<const char*>(eof) - bytes.data());

  // Compact in place; most files have no CR at all and leave at the first memchr.
  const char* cr = static_cast<const char*>(std::memchr(bytes.data(), '\r', bytes.size()));
  if (!cr) return;
  std::size_t out = cr - bytes.data();
  const std::size_t n = bytes.size();
  for (std::size_t in = out; in < n; ++in) {
    if (bytes[in] == '\r' && in + 1 < n && bytes[in + 1] == '\n') continue;
    bytes[out++] = bytes[in];
  }
  bytes.resize(out);
}
