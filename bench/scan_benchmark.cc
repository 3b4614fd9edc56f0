// The scan kernel on a buffer in memory: the fast scanner beside the plain per-position compare,
// for a search text that does not occur, and the text-mode translation beside the plain rule.
// Prints bytes per second for each. Then the scanner over a mapped file, LF and CR LF, timed
// against memchr over the same mapping in alternating passes (BM_MappedScan: the counter
// scan/memchr is the median of the pairs' ratios). QZ_BENCH_MIB=<n> scans n MiB instead of
// 1 GiB (and the slow references a sixteenth of it), for runs under an emulator, whose figures
// are not speeds but still tell a vector kernel from a byte-at-a-time loop.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

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

// A file of the benchmark text, with LF or CR LF line ends, mapped as the tool maps a large
// file (read only, private, read sequentially). The file is unlinked at once; the mapping
// keeps it. Every page is touched once, so that the passes measure the scan, not page faults.
class MappedText {
 public:
  MappedText(std::size_t size, bool crlf) {
    char name[] = "/tmp/qz-bench-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) return;
    unlink(name);
    std::string text = Text(size).substr(0, size);
    if (crlf) {
      std::string withCr;
      withCr.reserve(size + size / 8);
      for (char c : text) {
        if (c == '\n') withCr += '\r';
        withCr += c;
      }
      text.swap(withCr);
    }
    bool written = true;
    for (std::size_t at = 0; written && at < text.size();) {
      const ssize_t n = write(fd, text.data() + at, text.size() - at);
      written = n > 0;
      if (written) at += static_cast<std::size_t>(n);
    }
    void* p = written ? mmap(nullptr, text.size(), PROT_READ, MAP_PRIVATE, fd, 0) : MAP_FAILED;
    close(fd);
    if (p == MAP_FAILED) return;
    madvise(p, text.size(), MADV_SEQUENTIAL);
    data_ = static_cast<const char*>(p);
    size_ = text.size();
    unsigned sum = 0;
    for (std::size_t i = 0; i < size_; i += 4096) sum += static_cast<unsigned char>(data_[i]);
    benchmark::DoNotOptimize(sum);
  }
  ~MappedText() {
    if (data_) munmap(const_cast<char*>(data_), size_);
  }
  MappedText(const MappedText&) = delete;
  MappedText& operator=(const MappedText&) = delete;

  std::string_view bytes() const { return {data_, size_}; }

 private:
  const char* data_ = nullptr;
  std::size_t size_ = 0;
};

// This thread's processor time: a pass that waits on memory is counted, one that waits for
// the processor while other programs run on it is not, so the ratios hold on a busy machine.
double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The scanner over the mapping, and memchr for a byte the text does not hold over the same
// mapping, one pass each per iteration, in turn which goes first. The time reported is the
// scanner's (or, with a third argument of 1, CountCrLf's) processor time; the counters give
// memchr's speed and the median of the pairs' ratios, in processor time.
void BM_MappedScan(benchmark::State& state) {
  const MappedText mapped(static_cast<std::size_t>(state.range(0)), state.range(1) != 0);
  const std::string_view text = mapped.bytes();
  if (text.empty()) {
    state.SkipWithError("could not write and map a file in /tmp");
    return;
  }
  const Scanner scanner(kAbsent);
  std::vector<double> ratios;
  double memchrSeconds = 0;
  bool scanFirst = false;
  for (auto _ : state) {
    double scan = 0, floor = 0;
    for (int k = 0; k < 2; ++k) {
      const double start = ThreadSeconds();
      if ((k == 0) == scanFirst) {
        if (state.range(2) == 0)
          benchmark::DoNotOptimize(scanner.FindNext(text, 0));
        else
          benchmark::DoNotOptimize(CountCrLf(text));
        scan = ThreadSeconds() - start;
      } else {
        benchmark::DoNotOptimize(std::memchr(text.data(), kEndOfText, text.size()));
        floor = ThreadSeconds() - start;
      }
    }
    scanFirst = !scanFirst;
    state.SetIterationTime(scan);
    memchrSeconds += floor;
    ratios.push_back(scan / floor);
  }
  std::sort(ratios.begin(), ratios.end());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size()));
  state.counters["memchr_GB/s"] =
      static_cast<double>(text.size()) * static_cast<double>(state.iterations()) / memchrSeconds / 1e9;
  state.counters["scan/memchr"] = ratios[ratios.size() / 2];
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
  // The scanner over LF and CR LF text; the count of CR LF pairs (the positions of occurrences
  // in a CR LF file) over CR LF text.
  for (const auto& [name, crlf, count] : {std::tuple{"BM_MappedScan/lf", 0, 0},
                                          std::tuple{"BM_MappedScan/crlf", 1, 0},
                                          std::tuple{"BM_MappedCountCrLf/crlf", 1, 1}}) {
    benchmark::RegisterBenchmark(name, BM_MappedScan)
        ->Args({large, crlf, count})
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->MinTime(2 * seconds);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
