#include "search/text_mode.h"

#include <cstring>

#include "search/cpu_features.h"

#if QZ_X86
#include <immintrin.h>
#endif

namespace {

// Translation keeps whole runs of bytes between the dropped CRs. `out` trails the read
// position once a CR has been dropped; until then every run is already where it belongs.
struct Compactor {
  char* data;
  std::size_t out = 0;  // delivered bytes so far
  std::size_t run = 0;  // start of the raw run not yet delivered

  // Delivers the raw bytes [run, end).
  void Deliver(std::size_t end) {
    if (out != run) std::memmove(data + out, data + run, end - run);
    out += end - run;
    run = end;
  }
  void DropCrAt(std::size_t cr) {
    Deliver(cr);
    run = cr + 1;
  }
};

std::size_t TranslateScalar(Compactor& c, std::size_t from, std::size_t n, bool& sawEnd) {
  for (std::size_t i = from; i < n; ++i) {
    if (c.data[i] == kEndOfText) {
      c.Deliver(i);
      sawEnd = true;
      return c.out;
    }
    if (c.data[i] == '\r' && i + 1 < n && c.data[i + 1] == '\n') c.DropCrAt(i);
  }
  c.Deliver(n);
  return c.out;
}

#if QZ_X86
__attribute__((target("avx2"))) std::size_t TranslateAvx2(char* data, std::size_t n,
                                                           bool& sawEnd) {
  Compactor c{data};
  const __m256i cr = _mm256_set1_epi8('\r');
  const __m256i lf = _mm256_set1_epi8('\n');
  const __m256i eot = _mm256_set1_epi8(kEndOfText);
  std::size_t i = 0;
  // Each block looks one byte past its end, for the LF after a CR.
  for (; i + 32 < n; i += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i));
    const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + i + 1));
    const __m256i pairs = _mm256_and_si256(_mm256_cmpeq_epi8(v, cr), _mm256_cmpeq_epi8(next, lf));
    const __m256i hits = _mm256_or_si256(pairs, _mm256_cmpeq_epi8(v, eot));
    if (_mm256_testz_si256(hits, hits)) continue;
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, eot)) != 0) break;  // finish exactly
    auto drops = static_cast<std::uint32_t>(_mm256_movemask_epi8(pairs));
    while (drops) {
      c.DropCrAt(i + static_cast<std::size_t>(__builtin_ctz(drops)));
      drops &= drops - 1;
    }
  }
  return TranslateScalar(c, i, n, sawEnd);
}
#endif

}  // namespace

std::size_t TranslateTextMode(char* data, std::size_t n, bool& sawEnd) {
  sawEnd = false;
#if QZ_X86
  if (CpuHasAvx2()) return TranslateAvx2(data, n, sawEnd);
#endif
  Compactor c{data};
  return TranslateScalar(c, 0, n, sawEnd);
}

void TranslateTextMode(std::string& bytes) {
  bool sawEnd;
  bytes.resize(TranslateTextMode(bytes.data(), bytes.size(), sawEnd));
}

std::uint64_t CountCrLf(std::string_view bytes) {
  std::uint64_t pairs = 0;
  const char* p = bytes.data();
  const char* end = p + bytes.size();
  while (p < end) {
    p = static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(end - p)));
    if (!p) break;
    if (++p < end && *p == '\n') ++pairs;
  }
  return pairs;
}
