// The scan kernel on a buffer in memory: the fast scanner beside the plain per-position compare,
// for a search text that does not occur. Prints bytes per second for each.
#include <benchmark/benchmark.h>

#include <strings.h>

#include <random>
#include <string>

#include "search/scanner.h"
#include "search/text_mode.h"

namespace {

constexpr std::string_view kAbsent = "qzneedle";  // 8 bytes

// Text of short lower-case words with spaces, punctuation and line ends, without the needle.
const std::string& Text(std::size_t size) {
  static std::string text;
  if (text.size() >= size) return text;
  std::mt19937 rng(42);
  const std::string_view letters = "etaoinshrdlcumwfgypbvkxj";  // no q, no z
  text.reserve(size);
  while (text.size() < size) {
    const int length = 1 + static_cast<int>(rng() % 9);
    for (int i = 0; i < length; ++i) text += letters[rng() % letters.size()];
    text += (rng() % 12 == 0) ? ".\n" : " ";
  }
  return text;
}

void BM_Scanner(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const std::string_view text = std::string_view(Text(size)).substr(0, size);
  const Scanner scanner(kAbsent);
  for (auto _ : state) benchmark::DoNotOptimize(scanner.FindNext(text, 0));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(size));
}

// The search as first specified: the C library's case-blind compare of the whole search text
// at every position of a NUL-terminated buffer.
std::size_t FindWithStrncasecmp(const std::string& text, std::string_view needle) {
  const std::string terminated(needle);
  for (std::size_t i = 0; i < text.size(); ++i)
    if (strncasecmp(text.c_str() + i, terminated.c_str(), needle.size()) == 0) return i;
  return std::string::npos;
}

void BM_PerPositionCompare(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const std::string text = Text(size).substr(0, size);
  for (auto _ : state) benchmark::DoNotOptimize(FindWithStrncasecmp(text, kAbsent));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(size));
}

// The tests' reference: the same rule with the compare written out, which the compiler inlines.
void BM_PlainCompare(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const std::string_view text = std::string_view(Text(size)).substr(0, size);
  for (auto _ : state) benchmark::DoNotOptimize(FindNextPlain(text, kAbsent, 0));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(size));
}

void BM_CountCrLf(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const std::string_view text = std::string_view(Text(size)).substr(0, size);
  for (auto _ : state) benchmark::DoNotOptimize(CountCrLf(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(size));
}

}  // namespace

// 1 GiB for the scanner; the plain compare is slow enough that 64 MiB gives a steady figure.
BENCHMARK(BM_Scanner)->Arg(1 << 30)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PerPositionCompare)->Arg(64 << 20)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PlainCompare)->Arg(64 << 20)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_CountCrLf)->Arg(1 << 30)->Unit(benchmark::kMillisecond)->MinTime(2.0);

BENCHMARK_MAIN();
