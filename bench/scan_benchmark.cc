// The scan kernel on a buffer in memory: the fast scanner beside the plain per-position compare,
// for a search text that does not occur, and the text-mode translation beside the plain rule.
// Prints bytes per second for each. QZ_BENCH_MIB=<n> scans n MiB instead of 1 GiB (and the
// slow references a sixteenth of it), for runs under an emulator, whose figures are not speeds
// but still tell a vector kernel from a byte-at-a-time loop.
#include <benchmark/benchmark.h>

#include <strings.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>

#include "search/scanner.h"
#include "search/text_mode.h"
#include "support/plain_find.h"
#include "support/plain_text_mode.h"

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
  for (auto _ : state) benchmark::DoNotOptimize(qz_test::FindNextPlain(text, kAbsent, 0));
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

// Text without CR LF and without byte 26, as most files are: the translation delivers it as it
// is, so each run translates the same bytes again.
void BM_TranslateTextMode(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  std::string text = Text(size).substr(0, size);
  bool sawEnd = false;
  for (auto _ : state) benchmark::DoNotOptimize(TranslateTextMode(text.data(), text.size(), sawEnd));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(size));
}

// The tests' reference for the translation, one byte at a time.
void BM_PlainTextMode(benchmark::State& state) {
  const std::size_t size = static_cast<std::size_t>(state.range(0));
  const std::string_view text = std::string_view(Text(size)).substr(0, size);
  for (auto _ : state) benchmark::DoNotOptimize(qz_test::PlainTextMode(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(size));
}

}  // namespace

int main(int argc, char** argv) {
  // 1 GiB for the kernels; the plain references are slow enough that 64 MiB gives a steady figure.
  std::int64_t mib = 1024;
  if (const char* given = std::getenv("QZ_BENCH_MIB"); given && std::atoll(given) > 0)
    mib = std::atoll(given);
  const std::int64_t large = mib << 20, small = std::max<std::int64_t>(large / 16, 1 << 20);
  const double seconds = mib >= 1024 ? 2.0 : 0.5;
  auto add = [&](const char* name, void (*run)(benchmark::State&), std::int64_t size) {
    benchmark::RegisterBenchmark(name, run)->Arg(size)->Unit(benchmark::kMillisecond)->MinTime(seconds);
  };
  add("BM_Scanner", BM_Scanner, large);
  add("BM_PerPositionCompare", BM_PerPositionCompare, small);
  add("BM_PlainCompare", BM_PlainCompare, small);
  add("BM_CountCrLf", BM_CountCrLf, large);
  add("BM_TranslateTextMode", BM_TranslateTextMode, large);
  add("BM_PlainTextMode", BM_PlainTextMode, small);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
