// A fuzz target's properties without libFuzzer, for builds where it is not at hand (gcc, cross
// builds): every input of the given files and folders, then inputs made from them by random
// edits, seeded so that a failure comes back on every run. A broken property aborts, as under
// libFuzzer, and the input that broke it is written to replay-failure.bin in the current folder.
//
//   fuzz_scanner_replay [-runs=N] [-seed=S] tests/fuzz/corpus/fuzz_scanner
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Bytes the kernels treat apart (line ends, the end of text, NUL, both cases of letters, the
// neighbours of the case bit) are drawn far more often than the rest.
char InterestingByte(std::mt19937& rng) {
  static constexpr char kBytes[] = "\r\n\x1a\0aAzZ@[`{\x80\xff ";
  if (rng() % 4 == 0) return static_cast<char>(rng());
  return kBytes[rng() % (sizeof kBytes - 1)];
}

// One to eight edits: replace, insert or erase a byte, repeat a run, or splice in a part of
// another input. Inputs stay below 8 KiB, which spans many vector blocks.
std::string Mutate(std::string s, const std::vector<std::string>& pool, std::mt19937& rng) {
  for (int edits = 1 + static_cast<int>(rng() % 8); edits > 0; --edits) {
    const std::size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
    switch (rng() % 5) {
      case 0:
        if (at < s.size()) s[at] = InterestingByte(rng);
        break;
      case 1:
        s.insert(at, 1, InterestingByte(rng));
        break;
      case 2:
        if (at < s.size()) s.erase(at, 1 + rng() % 16);
        break;
      case 3:
        if (at < s.size()) {
          const std::string run = s.substr(at, 1 + rng() % 8);
          for (int k = static_cast<int>(rng() % 64); k > 0 && s.size() < 8192; --k) s.insert(at, run);
        }
        break;
      default: {
        const std::string& other = pool[rng() % pool.size()];
        const std::size_t from = other.empty() ? 0 : rng() % other.size();
        s.insert(at, other.substr(from, rng() % 512));
      }
    }
  }
  if (s.size() > 8192) s.resize(8192);
  return s;
}

// The input under test, for the abort handler.
const std::uint8_t* current = nullptr;
std::size_t currentSize = 0;

void KeepFailingInput(int) {
  const int fd = open("replay-failure.bin", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) {
    if (write(fd, current, currentSize) < 0) {}
    close(fd);
  }
  signal(SIGABRT, SIG_DFL);  // and abort goes on to end the process
}

void Run(const std::string& input) {
  // An input of its own exact size, so that a read past its end is a read past the heap block.
  std::vector<std::uint8_t> copy(input.begin(), input.end());
  current = copy.data();
  currentSize = copy.size();
  LLVMFuzzerTestOneInput(copy.data(), copy.size());
}

}  // namespace

int main(int argc, char** argv) {
  long runs = 10000;
  unsigned seed = 1;
  std::vector<std::string> pool;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("-runs=", 0) == 0) {
      runs = std::atol(arg.c_str() + 6);
    } else if (arg.rfind("-seed=", 0) == 0) {
      seed = static_cast<unsigned>(std::atol(arg.c_str() + 6));
    } else if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::directory_iterator(arg))
        if (entry.is_regular_file()) pool.push_back(ReadFile(entry.path()));
    } else {
      pool.push_back(ReadFile(arg));
    }
  }
  if (pool.empty()) pool.emplace_back();
  signal(SIGABRT, KeepFailingInput);
  for (const std::string& input : pool) Run(input);
  std::mt19937 rng(seed);
  for (long r = 0; r < runs; ++r) Run(Mutate(pool[rng() % pool.size()], pool, rng));
  std::printf("%zu inputs and %ld edited ones: every property held\n", pool.size(), runs);
  return 0;
}
