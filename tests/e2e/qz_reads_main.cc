// qz with the way of reading chosen by the first argument ("plain", "ring" or "adaptive"),
// for the end-to-end tests of the reading pipeline: `qz_reads ring '*.txt' needle` runs as
// `qz '*.txt' needle` would, with the files read through io_uring from the start.
#include <string_view>
#include <vector>

#include "app/search_driver.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string_view way = argv[1];
  ReadWay chosen = ReadWay::Adaptive;
  if (way == "plain") chosen = ReadWay::Plain;
  else if (way == "ring") chosen = ReadWay::Ring;
  else if (way != "adaptive") return 2;
  std::vector<char*> args{argv[0]};
  args.insert(args.end(), argv + 2, argv + argc);
  args.push_back(nullptr);
  return RunSearch(argc - 1, args.data(), chosen);
}
