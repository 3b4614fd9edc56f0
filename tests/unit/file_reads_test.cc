// The reads of a run, each way of reading, on a directory with files of every kind.
#include "search/file_reads.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_tree.h"

namespace {

// What file `index` of the plan reads as through `reads`, or "-" when it is not opened.
std::string ReadThrough(FileReads& reads, std::size_t index) {
  InputFile file;
  std::uint64_t length = 0;
  if (reads.Open(index, file, length) != OpenResult::Opened) return "-";
  std::string content(static_cast<std::size_t>(length), '\0');
  std::size_t got = 0;
  while (got < content.size()) {
    const std::int64_t n = file.Read(content.data() + got, content.size() - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  content.resize(got);
  return content;
}

// Every way of reading gives the same files: regular files with their whole content (the part
// read ahead, then the rest), nothing for a FIFO or a path too long to open, and, once a
// prompt has come, an entry swapped for a FIFO is not opened (which would block a writer).
TEST(FileReads, EveryWayOfReadingOpensTheSameFiles) {
  for (const ReadWay way : {ReadWay::Plain, ReadWay::Adaptive, ReadWay::Ring}) {
    qz_test::TempTree tree;
    const std::string big(200000, 'b');
    tree.File("a.txt", "alpha");
    tree.File("b.txt", big);
    tree.File("c.txt", "");
    ASSERT_EQ(mkfifo(tree.Path("d.txt").c_str(), 0644), 0);
    tree.File("e.txt", "echo");
    tree.File("f.txt", "foxtrot");
    const std::string tooLong = tree.path() + "/" + std::string(5000, 'x') + "/g.txt";
    FileReads reads(way);
    reads.Plan(tree.path(), {{tree.Path("a.txt"), "a.txt", true},
                             {tree.Path("b.txt"), "b.txt", true},
                             {tree.Path("c.txt"), "c.txt", true},
                             {tree.Path("d.txt"), "d.txt", true},  // listed as regular, is not
                             {tooLong, "g.txt", true},
                             {tree.Path("e.txt"), "e.txt", true},
                             {tree.Path("f.txt"), "f.txt", true}});
    EXPECT_EQ(ReadThrough(reads, 0), "alpha");
    EXPECT_EQ(ReadThrough(reads, 1), big);
    EXPECT_EQ(ReadThrough(reads, 2), "");
    EXPECT_EQ(ReadThrough(reads, 3), "-");
    EXPECT_EQ(ReadThrough(reads, 4), "-");
    reads.BeforePrompt();
    // Changed at the prompt: read as it is now, or not at all once it is a FIFO.
    tree.File("e.txt", "echo, again");
    std::filesystem::remove(tree.Path("f.txt"));
    ASSERT_EQ(mkfifo(tree.Path("f.txt").c_str(), 0644), 0);
    EXPECT_EQ(ReadThrough(reads, 5), "echo, again");
    EXPECT_EQ(ReadThrough(reads, 6), "-");
    reads.End();
  }
}

}  // namespace
