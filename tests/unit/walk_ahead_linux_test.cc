// The read-ahead across directories: while the walk searches one directory, the reads open and
// read the files of the directories after it. The walk must come out as if every directory had
// been listed and every file opened in its turn: the same reports in the same order as plain
// reads give, and after a question each directory as it is once the user has answered.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/recording_sink.h"
#include "support/system_ring.h"
#include "support/temp_tree.h"

namespace {

namespace fs = std::filesystem;
using qz_test::RecordingSink;
using qz_test::SystemHasRing;
using qz_test::TempTree;
using qz_test::Walk;

// The regular files under `root` this process holds open.
std::vector<std::string> OpenUnder(const std::string& root) {
  std::vector<std::string> open;
  std::error_code error;
  for (const auto& fd : fs::directory_iterator("/proc/self/fd", error)) {
    const std::string target = fs::read_symlink(fd.path(), error).string();
    if (target.rfind(root + "/", 0) == 0 && fs::is_regular_file(target, error))
      open.push_back(target.substr(root.size() + 1));
  }
  return open;
}

std::string Numbered(const char* prefix, int i) {
  return prefix + std::string(i < 10 ? "0" : "") + std::to_string(i);
}

// Directories of one or two files each, as most trees are: with the ring, the files of the
// directories after the first are open before the first file is searched; with plain reads
// none are.
TEST(WalkAhead, TheRingReadsOnIntoTheDirectoriesAfterTheOneSearched) {
  if (!SystemHasRing()) GTEST_SKIP() << "this system sets up no io_uring";
  for (const ReadWay way : {ReadWay::Plain, ReadWay::Ring}) {
    TempTree tree;
    for (int i = 0; i < 12; ++i) tree.File(Numbered("d", i) + "/f.txt", "nothing to find");
    RecordingSink sink(tree.path(), true);
    std::vector<std::string> openAtFirst;
    sink.onOpened = [&](const std::string& path) {
      if (path == "d00/f.txt") openAtFirst = OpenUnder(tree.path());
    };
    Walk(tree.path(), "needle", "*.txt", true, sink, way);
    std::size_t later = 0;
    for (const std::string& path : openAtFirst) later += path.rfind("d00/", 0) != 0;
    if (way == ReadWay::Ring) {
      EXPECT_GE(later, 8u) << "files of later directories open when the first is searched";
    } else {
      EXPECT_EQ(later, 0u);
    }
    EXPECT_EQ(sink.events.size(), 12u);
  }
}

// A tree of every shape the walk meets gives the same reports in the same order whichever way
// it is read: nesting, directories with no files or none matching, a link back to an ancestor
// and one to a sibling (each directory entered once), and a file that is no regular file.
TEST(WalkAhead, EveryWayWalksATreeAlike) {
  if (!SystemHasRing()) GTEST_SKIP() << "this system sets up no io_uring";
  TempTree tree;
  for (int i = 0; i < 30; ++i) {
    const std::string dir = Numbered("d", i);
    tree.File(dir + "/a.txt", i % 3 == 0 ? "a needle" : "none");
    if (i % 2) tree.File(dir + "/b.txt", "needle needle");
    if (i % 4 == 0) tree.File(dir + "/deep/er/c.txt", "the needle");
    if (i % 5 == 0) tree.File(dir + "/only.log", "needle");
    if (i % 7 == 0) tree.Directory(dir + "/empty");
  }
  fs::create_directory_symlink(tree.path(), tree.Path("d03/up"));
  fs::create_directory_symlink(tree.Path("d05"), tree.Path("d04/sibling"));
  mkfifo(tree.Path("d06/fifo.txt").c_str(), 0644);
  std::vector<std::vector<std::string>> seen;
  for (const ReadWay way : {ReadWay::Plain, ReadWay::Adaptive, ReadWay::Ring}) {
    RecordingSink sink(tree.path(), true);
    const SearchTally tally = Walk(tree.path(), "needle", "*.txt", true, sink, way);
    EXPECT_EQ(tally.occurrences, 10u + 2 * 15 + 8) << static_cast<int>(way);
    seen.push_back(sink.events);
  }
  EXPECT_EQ(seen[1], seen[0]);
  EXPECT_EQ(seen[2], seen[0]);
}

// Directories the walk listed ahead of its turn are listed again after a question: what the
// user changed meanwhile in them, or below them, is what the walk finds, and a directory put
// in the place of one listed ahead is the one walked.
TEST(WalkAhead, DirectoriesListedAheadAreTakenAsTheyAreAfterAQuestion) {
  if (!SystemHasRing()) GTEST_SKIP() << "this system sets up no io_uring";
  TempTree tree;
  tree.File("d00/a.txt", "needle");
  for (int i = 1; i < 10; ++i) tree.File(Numbered("d", i) + "/f.txt", "nothing");
  tree.File("d02/gone.txt", "needle");
  tree.File("d05/sub/f.txt", "nothing");
  tree.File("d07/f.txt", "nothing here either");
  RecordingSink sink(tree.path(), true);
  sink.onAsk = [&](int before) {
    if (before != 0) return;
    fs::remove(tree.Path("d02/gone.txt"));
    tree.File("d03/new.txt", "a new needle");
    tree.File("d05/sub/new/g.txt", "needle below");
    fs::rename(tree.Path("d07"), tree.Path("moved"));
    tree.File("d07/h.txt", "needle in the new d07");
  };
  Walk(tree.path(), "needle", "*.txt", true, sink, ReadWay::Ring);
  std::vector<std::string> matches;
  for (const std::string& event : sink.events) {
    if (event.rfind("match ", 0) == 0) matches.push_back(event.substr(0, event.find(' ', 6)));
  }
  EXPECT_EQ(matches, (std::vector<std::string>{"match d00/a.txt", "match d03/new.txt",
                                                "match d05/sub/new/g.txt", "match d07/h.txt"}));
}

}  // namespace
