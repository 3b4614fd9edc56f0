// End-to-end tests of the command line, the walk, matching and the summary: qz on a
// pseudo-terminal, its screen rendered by libvterm, keys typed at its prompts. Each test builds
// its own directory tree under /tmp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_support.h"

namespace qz_e2e {
namespace {

// ---------------------------------------------------------------------------------------------
// The command line

TEST(CommandLine, MissingFileSpecOrSearchTextPrintsTheUsageLine) {
  TempTree tree;
  tree.File("a.txt", "needle");
  const std::vector<std::vector<std::string>> cases = {
      {}, {"*.txt"}, {"/s", "*.txt"}, {"/s", "/x", "*.txt"}};
  for (const auto& args : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    PtyTerminal t(In(tree, args));
    ASSERT_TRUE(t.started()) << t.startError();
    EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
    EXPECT_EQ(t.Row(0), kUsage) << Describe(t);
    EXPECT_EQ(t.Row(1), "");
    std::string raw = t.Transcript();
    std::erase(raw, '\r');
    EXPECT_EQ(raw, std::string(kUsage) + "\n");
  }
}

TEST(CommandLine, ArgumentAfterTheFileSpecIsTheSearchTextEvenWhenItLooksLikeAnOption) {
  TempTree tree;
  tree.File("a.txt", "path /s here");
  tree.File("b.txt", "budget only");
  tree.File("sub/c.txt", "x/Sy");
  PtyTerminal t(In(tree, {"*.txt", "/s", "budget"}));
  // "/s" is searched for and also turns recursion on; "budget" is ignored.
  EXPECT_TRUE(WalksThrough(t, {"Found in ./a.txt - position 5:",
                               "Found in ./sub/c.txt - position 1:"}));
  ExpectCounts(t, "2 files", "2 occurrences", "/s");
}

TEST(CommandLine, RecursionOptions) {
  TempTree tree;
  tree.File("a.txt", "budget");
  tree.File("sub/b.txt", "the budget");
  const std::vector<std::string> topOnly = {"Found in ./a.txt - position 0:"};
  const std::vector<std::string> both = {"Found in ./a.txt - position 0:",
                                         "Found in ./sub/b.txt - position 4:"};
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> headers;
  } cases[] = {
      {{"*.txt", "budget"}, topOnly},
      {{"*.txt", "budget", "/S"}, topOnly},  // upper case S is no recursion
      {{"*.txt", "budget", "/sub"}, both},
      {{"*.txt", "budget", "/s", "extra"}, both},
      {{"/s", "*.txt", "budget"}, both},
      {{"/x", "*.txt", "budget"}, topOnly},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    PtyTerminal t(In(tree, c.args));
    EXPECT_TRUE(WalksThrough(t, c.headers));
    EXPECT_TRUE(HasRow(t, c.headers.size() == 1 ? "1 file found containing the text \"budget\""
                                                : "2 files found containing the text \"budget\""))
        << Describe(t);
  }
}

// ---------------------------------------------------------------------------------------------
// Files and the walk

TEST(Walk, FilesBeforeSubdirectoriesEachInCaseInsensitiveNameOrder) {
  TempTree tree;
  for (const char* name : {"zz.txt", "b.txt", "C.TXT", "A.txt", "Beta/x.txt", "alpha/y.txt",
                           "alpha/w.txt", "alpha/deep/z.txt", "dir.txt/q.txt"})
    tree.File(name, "needle");
  tree.File("notes.md", "needle");
  PtyTerminal t(In(tree, {"*.txt", "needle", "/s"}));
  const Walkthrough walk = AnswerEveryPrompt(t);
  EXPECT_TRUE(ExitedWithZero(walk.exit));
  std::vector<std::string> expected;
  for (const char* path : {"./A.txt", "./b.txt", "./C.TXT", "./zz.txt", "./alpha/w.txt",
                           "./alpha/y.txt", "./alpha/deep/z.txt", "./Beta/x.txt",
                           "./dir.txt/q.txt"})
    expected.push_back(std::string("Found in ") + path + " - position 0:");
  EXPECT_EQ(walk.headers, expected);
  ExpectCounts(t, "9 files", "9 occurrences");
}

TEST(Walk, PathsAreShownAsTheFileSpecGivesThem) {
  TempTree tree;
  tree.File("docs/a.txt", "needle");
  tree.File("docs/b.md", "needle");
  {
    PtyTerminal t(In(tree, {"docs/*.txt", "needle"}));
    const Walkthrough walk = AnswerEveryPrompt(t);
    EXPECT_TRUE(ExitedWithZero(walk.exit));
    EXPECT_EQ(walk.headers, std::vector<std::string>{"Found in docs/a.txt - position 0:"});
  }
  {
    LaunchOptions options = In(tree, {tree.path() + "/docs/*.txt", "needle"});
    options.workingDirectory = "/";
    PtyTerminal t(options);
    EXPECT_TRUE(WalksThrough(t, {"Found in " + tree.path() +
                                 "/docs/a.txt - position 0:"}));
  }
}

TEST(Walk, NamePatterns) {
  TempTree tree;
  for (const char* name : {"README", "readme.md", "ReadMe.txt.bak", "other.md", "r.txt", "rr.txt"})
    tree.File(name, "needle");
  const struct {
    std::string fileSpec;
    std::vector<std::string> paths;
  } cases[] = {
      // A trailing ".*" also takes names without a dot.
      {"read*.*", {"./README", "./readme.md", "./ReadMe.txt.bak"}},
      {"?.TXT", {"./r.txt"}},
      {"*me.md", {"./readme.md"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fileSpec);
    PtyTerminal t(In(tree, {c.fileSpec, "needle"}));
    const Walkthrough walk = AnswerEveryPrompt(t);
    EXPECT_TRUE(ExitedWithZero(walk.exit));
    std::vector<std::string> expected;
    for (const std::string& p : c.paths) expected.push_back("Found in " + p + " - position 0:");
    EXPECT_EQ(walk.headers, expected);
  }
}

TEST(Walk, LinkLoopIsNotEnteredAgain) {
  TempTree tree;
  tree.File("a.txt", "needle");
  tree.File("sub/b.txt", "needle");
  tree.Symlink("sub/loop", "..");
  PtyTerminal t(In(tree, {"*.txt", "needle", "/s"}));
  EXPECT_TRUE(WalksThrough(t, {"Found in ./a.txt - position 0:",
                               "Found in ./sub/b.txt - position 0:"}));
  ExpectCounts(t, "2 files", "2 occurrences");
}

// Links that lead to one directory along many paths, three at each of sixteen levels: walked
// naively that is 3^16 visits of the last level; each directory is searched once.
TEST(Walk, ADirectoryReachedByManyLinksIsSearchedOnce) {
  TempTree tree;
  constexpr int kLevels = 16;
  for (int level = 0; level < kLevels; ++level) {
    const std::string dir = "l" + std::to_string(level);
    tree.File(dir + "/f.txt", level == kLevels - 1 ? "needle" : "hay");
    for (const char* link : {"a", "b", "c"})
      tree.Symlink(dir + "/" + link, "../l" + std::to_string(level + 1));
  }
  tree.File("l" + std::to_string(kLevels) + "/f.txt", "needle");
  PtyTerminal t(In(tree, {"l0/*.txt", "needle", "/s"},
                   {.connection = Connection::kTerminalWithoutControl}));
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
  // The first path in name order is the one shown.
  EXPECT_NE(t.Transcript().find("Found in l0/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/f.txt - position 0:"),
            std::string::npos)
      << Describe(t);
  ExpectCounts(t, "2 files", "2 occurrences");
}

TEST(Walk, OnlyRegularFilesAreSearchedAndAFifoDoesNotBlock) {
  TempTree tree;
  ASSERT_TRUE(MakeFifo(tree, "0fifo.txt"));
  tree.File("a.txt", "needle");
  tree.Symlink("alink.txt", "a.txt");
  tree.Symlink("dangling.txt", "missing.txt");
  PtyTerminal t(In(tree, {"*.txt", "needle"}));
  EXPECT_TRUE(WalksThrough(t, {"Found in ./a.txt - position 0:",
                               "Found in ./alink.txt - position 0:"}));
  ExpectCounts(t, "2 files", "2 occurrences");
}

// ---------------------------------------------------------------------------------------------
// Matching, positions and the summary

TEST(Matching, OverlappingCaseInsensitiveMatchesAreEachShown) {
  TempTree tree;
  tree.File("a.txt", "aAaA");
  PtyTerminal t(In(tree, {"*.txt", "aa"}));
  EXPECT_TRUE(WalksThrough(t, {"Found in ./a.txt - position 0:",
                               "Found in ./a.txt - position 1:",
                               "Found in ./a.txt - position 2:"}));
  ExpectCounts(t, "1 file", "3 occurrences", "aa");
}

TEST(Matching, PositionsCountTranslatedLineEnds) {
  TempTree tree;
  std::string content;
  for (int i = 0; i < 10; ++i) content += "row\r\n";
  content += "a\rb needle";  // a lone CR stays a byte of its own
  tree.File("crlf.txt", content);
  PtyTerminal t(In(tree, {"*.txt", "needle"}));
  ASSERT_TRUE(PromptWithHeader(t, 1, "Found in ./crlf.txt - position 44:"));
  EXPECT_TRUE(AnswerAndExit(t));
}

TEST(Matching, ByteTwentySixEndsTheContent) {
  TempTree tree;
  tree.File("a.txt", "needle\x1a needle");
  tree.File("b.txt", "\x1aneedle");
  PtyTerminal t(In(tree, {"*.txt", "needle"}));
  EXPECT_TRUE(WalksThrough(t, {"Found in ./a.txt - position 0:"}));
  ExpectCounts(t, "1 file", "1 occurrence");
}

// A file several times larger than one read: occurrences at the seams between reads, with CR LF
// pairs split across them, keep their positions and their whole context.
TEST(Matching, LargeFilesKeepPositionsAndContextAcrossReads) {
  constexpr std::size_t kPart = 1 << 20;
  std::string raw;
  std::string delivered;  // the same content as the tool reads it
  std::vector<std::size_t> expected;
  auto add = [&](std::string_view piece) {
    raw += piece;
    for (std::size_t i = 0; i < piece.size(); ++i)
      if (!(piece[i] == '\r' && i + 1 < piece.size() && piece[i + 1] == '\n')) delivered += piece[i];
  };
  std::size_t line = 0;
  while (raw.size() < 3 * kPart) {
    // Lines of varied length so that the seams fall at different places in a line.
    std::string text = "line " + std::to_string(line) + " " + std::string(line % 97, '.');
    ++line;
    if (raw.size() + text.size() + 2 > kPart - 3 && raw.size() < kPart - 3) {
      text = std::string(kPart - 3 - raw.size(), '-');  // ends exactly before "NEEDLE" below
    }
    add(text + "\r\n");
    if (raw.size() == kPart - 1) {
      expected.push_back(delivered.size());
      add("NEEDLE ");  // straddles the first seam
    }
  }
  expected.push_back(delivered.size());
  add("needle at the very end");
  for (std::size_t i = delivered.find("needle", expected.front() + 1); i < expected.back();
       i = delivered.find("needle", i + 1))
    ADD_FAILURE() << "stray occurrence at " << i;

  TempTree tree;
  tree.File("big.txt", raw);
  LaunchOptions options = In(tree, {"*.txt", "needle"});
  options.connection = Connection::kTerminalWithoutControl;
  options.cols = 1000;  // no line breaks in the context
  PtyTerminal t(options);
  ASSERT_TRUE(ExitedWithZero(t.WaitExit()));
  std::vector<std::size_t> positions;
  const std::string& out = t.Transcript();
  const std::string header = "Found in ./big.txt - position ";
  for (std::size_t at = out.find(header); at != std::string::npos; at = out.find(header, at + 1))
    positions.push_back(std::stoull(out.substr(at + header.size())));
  EXPECT_EQ(positions, expected);
  // The context before the first occurrence, as written between its two colour changes.
  std::string before = delivered.substr(expected.front() - 250, 250);
  std::string shown;
  // The terminal's own output processing turns each LF the tool writes into CR LF.
  for (char c : before) shown += c == '\n' ? std::string("\r\r\n") : std::string(1, c);
  EXPECT_NE(out.find("\x1b[0;93;40m" + shown + "\x1b[0m\x1b[0;30;100mNEEDLE"), std::string::npos)
      << Printable(out.substr(0, 2000));
  ExpectCounts(t, "1 file", "2 occurrences");
}

TEST(Summary, CountsAndPlurals) {
  const struct {
    std::vector<std::pair<std::string, std::string>> files;
    std::string filesLine;
    std::string occurrencesLine;
  } cases[] = {
      {{{"a.txt", "nothing"}, {"b.txt", "here"}},
       "0 files found containing the text \"needle\"",
       "0 occurrences of the text \"needle\""},
      {{{"a.txt", "one needle"}}, "1 file found containing the text \"needle\"",
       "1 occurrence of the text \"needle\""},
      {{{"a.txt", "needle, needle"}}, "1 file found containing the text \"needle\"",
       "2 occurrences of the text \"needle\""},
      {{{"a.txt", "needle"}, {"b.txt", "no"}, {"c.txt", "Needle NEEDLE"}},
       "2 files found containing the text \"needle\"",
       "3 occurrences of the text \"needle\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.occurrencesLine);
    TempTree tree;
    for (const auto& [name, content] : c.files) tree.File(name, content);
    PtyTerminal t(In(tree, {"*.txt", "needle"}));
    const Walkthrough walk = AnswerEveryPrompt(t);
    EXPECT_TRUE(ExitedWithZero(walk.exit));
    ExpectSummary(t, c.filesLine, c.occurrencesLine);
  }
}

TEST(Summary, FileWithoutMatchesLeavesOnlyItsPathOnTheScreen) {
  TempTree tree;
  tree.File("a.txt", "nothing");
  tree.File("b.txt", "here either");
  PtyTerminal t(In(tree, {"*.txt", "needle"}));
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
  EXPECT_EQ(t.ScreenText().substr(0, 28), "./b.txt\n\nSearch complete\n\n0 ") << Describe(t);
  EXPECT_EQ(t.Transcript().find("Found in"), std::string::npos);
}

}  // namespace
}  // namespace qz_e2e
