// The walk and the file search through a sink that keeps what it is told: which files are
// searched in which order, what each occurrence is reported with, what the tally counts, how
// S and Esc end a file and the search, and that nothing read ahead outlives a question.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "search/search_state.h"
#include "support/recording_sink.h"
#include "support/temp_tree.h"

namespace {

using qz_test::RecordingSink;
using qz_test::Walk;

// A small tree: files before subdirectories, names in order, the pattern's files alone.
void Plant(const qz_test::TempTree& tree) {
  tree.File("b.txt", "a needle, a Needle");
  tree.File("a.txt", "no match here");
  tree.File("c.log", "needle, but not a .txt");
  tree.File("sub/d.txt", "NEEDLE");
  tree.File("sub/deeper/e.txt", "xneedlex");
  tree.File("z/f.txt", "needle");
}

TEST(Walk, SearchesFilesInNameOrderBeforeSubdirectoriesAndCountsEveryOccurrence) {
  qz_test::TempTree tree;
  Plant(tree);
  RecordingSink sink(tree.path(), true);
  const SearchTally tally = Walk(tree.path(), "needle", "*.txt", true, sink);
  EXPECT_EQ(sink.events, (std::vector<std::string>{
                             "file a.txt",
                             "file b.txt",
                             "match b.txt 2 [a |needle|, a Needle]",
                             "match b.txt 12 [a needle, a |Needle|]",
                             "file sub/d.txt",
                             "match sub/d.txt 0 [|NEEDLE|]",
                             "file sub/deeper/e.txt",
                             "match sub/deeper/e.txt 1 [x|needle|x]",
                             "file z/f.txt",
                             "match z/f.txt 0 [|needle|]",
                         }));
  EXPECT_EQ(sink.asked, 5);
  EXPECT_EQ(tally.filesFound, 4u);
  EXPECT_EQ(tally.occurrences, 5u);
  EXPECT_TRUE(tally.keepGoing);
}

TEST(Walk, WithoutRecursionStaysInTheRoot) {
  qz_test::TempTree tree;
  Plant(tree);
  RecordingSink sink(tree.path(), true);
  const SearchTally tally = Walk(tree.path(), "needle", "*.txt", false, sink);
  EXPECT_EQ(sink.events.size(), 4u);
  EXPECT_EQ(sink.events.back(), "match b.txt 12 [a needle, a |Needle|]");
  EXPECT_EQ(tally.filesFound, 1u);
  EXPECT_EQ(tally.occurrences, 2u);
}

// S ends the file at once: the match answered counts, the rest of the file is not looked at.
// Esc ends the walk: no further file is opened, in this directory or below, and the summary
// counts what was shown up to it.
TEST(Walk, SkipEndsTheFileAndStopEndsTheWalk) {
  qz_test::TempTree tree;
  Plant(tree);
  RecordingSink sink(tree.path(), true);
  sink.decisions = {MatchDecision::SkipFile, MatchDecision::Continue, MatchDecision::Stop};
  const SearchTally tally = Walk(tree.path(), "needle", "*.txt", true, sink);
  EXPECT_EQ(sink.events, (std::vector<std::string>{
                             "file a.txt",
                             "file b.txt",
                             "match b.txt 2 [a |needle|, a Needle]",
                             "file sub/d.txt",
                             "match sub/d.txt 0 [|NEEDLE|]",
                             "file sub/deeper/e.txt",
                             "match sub/deeper/e.txt 1 [x|needle|x]",
                         }));
  EXPECT_EQ(tally.filesFound, 3u);
  EXPECT_EQ(tally.occurrences, 3u);
  EXPECT_FALSE(tally.keepGoing);
}

// Overlapping occurrences each count, a file counts once however many it holds, and positions
// are those of the content in text mode (a CR LF is one byte, the content ends at byte 26).
TEST(Walk, CountsOverlappingOccurrencesAtTheirTextModePositions) {
  qz_test::TempTree tree;
  tree.File("a.txt", "aaaa");
  tree.File("b.txt", "x\r\ny\r\naa\x1a" "aa");
  RecordingSink sink(tree.path(), true);
  const SearchTally tally = Walk(tree.path(), "aa", "*.txt", false, sink);
  EXPECT_EQ(sink.events, (std::vector<std::string>{
                             "file a.txt",
                             "match a.txt 0 [|aa|aa]",
                             "match a.txt 1 [a|aa|a]",
                             "match a.txt 2 [aa|aa|]",
                             "file b.txt",
                             "match b.txt 4 [x\ny\n|aa|]",
                         }));
  EXPECT_EQ(tally.filesFound, 2u);
  EXPECT_EQ(tally.occurrences, 4u);
}

// A sink that does not ask is never asked and shown no context, and every occurrence is
// counted, each file scanned to its end.
TEST(Walk, ASinkThatDoesNotAskCountsEverything) {
  qz_test::TempTree tree;
  Plant(tree);
  tree.File("a.txt", "aaaa needle\r\nneedle");
  RecordingSink sink(tree.path(), false);
  sink.decisions = {MatchDecision::Stop};  // never given: no one is asked
  const SearchTally tally = Walk(tree.path(), "needle", "*.txt", true, sink);
  EXPECT_EQ(sink.asked, 0);
  EXPECT_EQ(sink.events.size(), 12u);
  EXPECT_EQ(sink.events[1], "match a.txt 5");
  EXPECT_EQ(sink.events[2], "match a.txt 12");
  EXPECT_EQ(tally.filesFound, 5u);
  EXPECT_EQ(tally.occurrences, 7u);
  EXPECT_TRUE(tally.keepGoing);
}

// The reads may open and read files of the directory ahead of the scan; whatever they hold is
// given up before each question, so a file replaced while the user decides is searched as it
// is afterwards, whichever way files are read.
TEST(Walk, AFileReplacedWhileTheUserDecidesIsSearchedAsItIsNow) {
  for (const ReadWay way : {ReadWay::Plain, ReadWay::Adaptive, ReadWay::Ring}) {
    qz_test::TempTree tree;
    tree.File("a.txt", "needle");
    for (char c = 'b'; c <= 'h'; ++c) tree.File(std::string(1, c) + ".txt", "needle");
    RecordingSink sink(tree.path(), true);
    // Each file is replaced by a new one under its name, as an editor saves.
    sink.onAsk = [&](int before) {
      if (before != 0) return;
      for (char c = 'b'; c <= 'h'; ++c) {
        const std::string name(1, c);
        tree.File(name + ".new", "one needle, two needles");
        std::filesystem::rename(tree.Path(name + ".new"), tree.Path(name + ".txt"));
      }
    };
    const SearchTally tally = Walk(tree.path(), "needle", "*.txt", false, sink, way);
    EXPECT_EQ(tally.filesFound, 8u) << static_cast<int>(way);
    EXPECT_EQ(tally.occurrences, 15u) << static_cast<int>(way);
    EXPECT_EQ(sink.events.back(), "match h.txt 16 [one needle, two |needle|s]")
        << static_cast<int>(way);
  }
}

}  // namespace
