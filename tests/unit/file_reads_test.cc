// The reads of a run, each way of reading, on a directory with files of every kind.
#include "search/file_reads.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "search/file_window.h"
#include "support/temp_tree.h"

namespace {

// What the next file of the plan, at `path`, reads as through `reads`: the first part as the
// file window reads it, then `chunk` bytes a read at most; "-" when it is not opened.
std::string ReadThrough(FileReads& reads, const std::string& path, std::size_t chunk = SIZE_MAX) {
  if (!reads.NextFile()) return "no file left";
  InputFile file;
  std::uint64_t length = 0;
  if (reads.Open(path, file, length) != OpenResult::Opened) return "-";
  std::string content(static_cast<std::size_t>(length), '\0');
  std::size_t got = 0;
  for (bool first = true; got < content.size(); first = false) {
    const std::int64_t n =
        first ? reads.ReadFirstPart(file, content.data(),
                                    std::min(FileWindow::kPartSize, content.size()))
              : file.Read(content.data() + got, std::min(chunk, content.size() - got));
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  content.resize(got);
  return content;
}

// Every way of reading gives the same files: regular files with their whole content (the part
// read ahead, then the rest, also when it is read in small pieces or a file before it was
// opened and never read), nothing for a FIFO or a path too long to open, and, once a prompt
// has come, an entry swapped for a FIFO is not opened (which would block a writer).
TEST(FileReads, EveryWayOfReadingOpensTheSameFiles) {
  for (const ReadWay way : {ReadWay::Plain, ReadWay::Adaptive, ReadWay::Ring}) {
    qz_test::TempTree tree;
    std::string big;
    for (int i = 0; i < 200000; ++i) big += static_cast<char>('a' + i % 23 + i / 65536);
    const std::string other = big.substr(1000) + "tail";
    tree.File("a.txt", "alpha");
    tree.File("b.txt", big);
    tree.File("c.txt", "");
    ASSERT_EQ(mkfifo(tree.Path("d.txt").c_str(), 0644), 0);
    tree.File("e.txt", "echo");
    tree.File("f.txt", "foxtrot");
    tree.File("h.txt", other);
    tree.File("i.txt", big);
    const std::string tooLong = tree.path() + "/" + std::string(5000, 'x') + "/g.txt";
    FileReads reads(way);
    reads.Plan(tree.path(), {{"a.txt", 5, true},
                             {"b.txt", 5, true},
                             {"c.txt", 5, true},
                             {"d.txt", 5, true},  // listed as regular, is not
                             {"g.txt", 5, true},
                             {"h.txt", 5, true},
                             {"i.txt", 5, true},
                             {"e.txt", 5, true},
                             {"f.txt", 5, true}});
    EXPECT_EQ(ReadThrough(reads, tree.Path("a.txt")), "alpha");
    {
      InputFile unread;  // opened and closed without a read, as a mapped file is
      std::uint64_t length = 0;
      ASSERT_TRUE(reads.NextFile());
      EXPECT_EQ(reads.Open(tree.Path("b.txt"), unread, length), OpenResult::Opened);
      EXPECT_EQ(length, big.size());
    }
    EXPECT_EQ(ReadThrough(reads, tree.Path("c.txt")), "");
    EXPECT_EQ(ReadThrough(reads, tree.Path("d.txt")), "-");
    EXPECT_EQ(ReadThrough(reads, tooLong), "-");
    EXPECT_EQ(ReadThrough(reads, tree.Path("h.txt"), 1000), other);
    EXPECT_EQ(ReadThrough(reads, tree.Path("i.txt")), big);
    reads.BeforePrompt();
    // Changed at the prompt: read as it is now, or not at all once it is a FIFO.
    tree.File("e.txt", "echo, again");
    std::filesystem::remove(tree.Path("f.txt"));
    ASSERT_EQ(mkfifo(tree.Path("f.txt").c_str(), 0644), 0);
    EXPECT_EQ(ReadThrough(reads, tree.Path("e.txt")), "echo, again");
    EXPECT_EQ(ReadThrough(reads, tree.Path("f.txt")), "-");
    reads.End();
  }
}

// A plan many times longer than the files read ahead at once, with entries that are not read
// ahead among them and a second plan after the first: every file reads as itself, however the
// places of the window are taken and given back.
TEST(FileReads, LongPlansReadEveryFileAsItself) {
  for (const ReadWay way : {ReadWay::Plain, ReadWay::Adaptive, ReadWay::Ring}) {
    qz_test::TempTree tree;
    std::vector<std::string> names;
    std::vector<PlannedFile> plan;
    const int count = 5 * kFilesReadAhead + 3;
    names.reserve(count);
    for (int i = 0; i < count; ++i) {
      names.push_back("f" + std::to_string(i) + ".txt");
      tree.File(names.back(), std::string(static_cast<std::size_t>(i) * 997, 'x') + names.back());
      // Every seventh one as an entry whose kind the listing did not know.
      plan.push_back({names.back().c_str(), static_cast<std::uint32_t>(names.back().size()),
                      i % 7 != 3});
    }
    FileReads reads(way);
    for (int round = 0; round < 2; ++round) {
      reads.Plan(tree.path(), plan);
      for (int i = 0; i < count; ++i) {
        const std::string want = std::string(static_cast<std::size_t>(i) * 997, 'x') + names[i];
        ASSERT_EQ(ReadThrough(reads, tree.Path(names[i])), want) << "file " << i;
        // Stop half way through the second plan, as the walk does on Esc.
        if (round == 1 && i == count / 2) break;
      }
      reads.End();
    }
  }
}

}  // namespace
