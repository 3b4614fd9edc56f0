// End-to-end tests: the qz binary on a pseudo-terminal, its screen rendered by libvterm, keys
// typed at its prompts. Each test builds its own directory tree under /tmp.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pty_terminal.h"

namespace qz_e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

constexpr std::string_view kUsage = "Usage is: qz.exe <file(s)> <search-text> [/s]";
constexpr std::string_view kPrompt =
    "(S) to skip this file; (Esc) to stop searching; any other key to continue: ";
// The prompt's row on the screen, where trailing blanks are trimmed.
constexpr std::string_view kPromptRow =
    "(S) to skip this file; (Esc) to stop searching; any other key to continue:";
// The end of the prompt; it stays in one piece in the raw output in the window widths used
// here (the prompt breaks after 40 or 60 columns in narrow windows).
constexpr std::string_view kPromptTail = "to continue: ";

// Colour indexes as libvterm reports them for the SGR codes qz uses.
constexpr int kBlack = 0;
constexpr int kGrey = 8;           // SGR 100
constexpr int kBrightYellow = 11;  // SGR 93

// A scratch directory tree, removed with everything in it when the test ends.
class TempTree {
 public:
  TempTree() {
    char name[] = "/tmp/qz-e2e-XXXXXX";
    if (mkdtemp(name)) root_ = name;
  }
  ~TempTree() {
    std::error_code ignored;
    if (!root_.empty()) fs::remove_all(root_, ignored);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::string& path() const { return root_; }
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

  void File(const std::string& relative, std::string_view content) const {
    fs::create_directories(fs::path(Path(relative)).parent_path());
    std::ofstream out(Path(relative), std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  void Symlink(const std::string& relative, const std::string& target) const {
    fs::create_directories(fs::path(Path(relative)).parent_path());
    fs::create_symlink(target, Path(relative));
  }
  bool Fifo(const std::string& relative) const {
    return mkfifo(Path(relative).c_str(), 0644) == 0;
  }

 private:
  std::string root_;
};

LaunchOptions In(const TempTree& tree, std::vector<std::string> args) {
  LaunchOptions options;
  options.args = std::move(args);
  options.workingDirectory = tree.path();
  return options;
}

// What a failed expectation shows: the screen and the end of the raw output.
std::string Describe(PtyTerminal& t) {
  const std::string& raw = t.Transcript();
  const std::size_t tail = raw.size() > 800 ? raw.size() - 800 : 0;
  return "\n--- screen ---\n" + t.ScreenText() + "\n--- output (end) ---\n" +
         Printable(std::string_view(raw).substr(tail)) + "\n";
}

// Waits for prompt number `n` (counted from 1 over the whole run) and for the key read behind
// it, so that a key sent next is the answer to that prompt.
testing::AssertionResult ReachPrompt(PtyTerminal& t, std::size_t n) {
  if (!t.WaitForOutputCount(kPromptTail, n))
    return testing::AssertionFailure() << "prompt " << n << " never came" << Describe(t);
  if (!t.WaitForRawMode())
    return testing::AssertionFailure() << "no key read behind prompt " << n << Describe(t);
  return testing::AssertionSuccess();
}

testing::AssertionResult AnswerPrompt(PtyTerminal& t, std::size_t n, std::string_view key) {
  testing::AssertionResult reached = ReachPrompt(t, n);
  if (reached) t.SendKeys(key);
  return reached;
}

struct Walkthrough {
  std::vector<std::string> headers;  // the top row at each prompt
  ExitStatus exit;
};

// Answers every prompt after the first `answered` with `key` until the run ends.
Walkthrough AnswerEveryPrompt(PtyTerminal& t, std::string_view key = "n",
                              std::size_t answered = 0) {
  Walkthrough walk;
  for (std::size_t n = answered + 1; t.WaitForOutputCount(kPromptTail, n); ++n) {
    if (!t.WaitForRawMode()) break;
    walk.headers.push_back(t.Row(0));
    t.SendKeys(key);
  }
  walk.exit = t.WaitExit();
  return walk;
}

testing::AssertionResult ExitedWithZero(const ExitStatus& s) {
  if (!s.ended) return testing::AssertionFailure() << "still running";
  if (!s.exited) return testing::AssertionFailure() << "killed by signal " << s.signal;
  if (s.code != 0) return testing::AssertionFailure() << "exit code " << s.code;
  return testing::AssertionSuccess();
}

bool HasRow(PtyTerminal& t, std::string_view text) {
  for (int row = 0; row < t.rows(); ++row)
    if (t.Row(row) == text) return true;
  return false;
}

// The two count lines of the summary.
void ExpectSummary(PtyTerminal& t, std::string_view filesLine, std::string_view occurrencesLine) {
  EXPECT_TRUE(HasRow(t, "Search complete")) << Describe(t);
  EXPECT_TRUE(HasRow(t, filesLine)) << "want: " << filesLine << Describe(t);
  EXPECT_TRUE(HasRow(t, occurrencesLine)) << "want: " << occurrencesLine << Describe(t);
}

bool IsIndexed(const VTermColor& c, int index) {
  return VTERM_COLOR_IS_INDEXED(&c) && c.indexed.idx == index;
}

// Checks the colours of cells [from, to) on `row`.
void ExpectColours(PtyTerminal& t, int row, int from, int to, int fg, int bg) {
  for (int col = from; col < to; ++col) {
    const VTermScreenCell cell = t.Cell(row, col);
    EXPECT_TRUE(IsIndexed(cell.fg, fg)) << "row " << row << " col " << col << " fg";
    EXPECT_TRUE(IsIndexed(cell.bg, bg)) << "row " << row << " col " << col << " bg";
  }
}

void ExpectDefaultColours(PtyTerminal& t, int row, int from, int to) {
  for (int col = from; col < to; ++col) {
    const VTermScreenCell cell = t.Cell(row, col);
    EXPECT_TRUE(VTERM_COLOR_IS_DEFAULT_FG(&cell.fg)) << "row " << row << " col " << col;
    EXPECT_TRUE(VTERM_COLOR_IS_DEFAULT_BG(&cell.bg)) << "row " << row << " col " << col;
  }
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

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
  const Walkthrough walk = AnswerEveryPrompt(t);
  EXPECT_TRUE(ExitedWithZero(walk.exit));
  // "/s" is searched for and also turns recursion on; "budget" is ignored.
  EXPECT_EQ(walk.headers, (std::vector<std::string>{"Found in ./a.txt - position 5:",
                                                    "Found in ./sub/c.txt - position 1:"}));
  ExpectSummary(t, "2 files found containing the text \"/s\"",
                "2 occurrences of the text \"/s\"");
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
    const Walkthrough walk = AnswerEveryPrompt(t);
    EXPECT_TRUE(ExitedWithZero(walk.exit));
    EXPECT_EQ(walk.headers, c.headers);
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
  ExpectSummary(t, "9 files found containing the text \"needle\"",
                "9 occurrences of the text \"needle\"");
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
    const Walkthrough walk = AnswerEveryPrompt(t);
    EXPECT_TRUE(ExitedWithZero(walk.exit));
    EXPECT_EQ(walk.headers, std::vector<std::string>{"Found in " + tree.path() +
                                                     "/docs/a.txt - position 0:"});
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
  const Walkthrough walk = AnswerEveryPrompt(t);
  EXPECT_TRUE(ExitedWithZero(walk.exit));
  EXPECT_EQ(walk.headers, (std::vector<std::string>{"Found in ./a.txt - position 0:",
                                                    "Found in ./sub/b.txt - position 0:"}));
  ExpectSummary(t, "2 files found containing the text \"needle\"",
                "2 occurrences of the text \"needle\"");
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
  LaunchOptions options = In(tree, {"l0/*.txt", "needle", "/s"});
  options.connection = Connection::kTerminalWithoutControl;
  PtyTerminal t(options);
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
  // The first path in name order is the one shown.
  EXPECT_NE(t.Transcript().find("Found in l0/a/a/a/a/a/a/a/a/a/a/a/a/a/a/a/f.txt - position 0:"),
            std::string::npos)
      << Describe(t);
  ExpectSummary(t, "2 files found containing the text \"needle\"",
                "2 occurrences of the text \"needle\"");
}

TEST(Walk, OnlyRegularFilesAreSearchedAndAFifoDoesNotBlock) {
  TempTree tree;
  ASSERT_TRUE(tree.Fifo("0fifo.txt"));
  tree.File("a.txt", "needle");
  tree.Symlink("alink.txt", "a.txt");
  tree.Symlink("dangling.txt", "missing.txt");
  PtyTerminal t(In(tree, {"*.txt", "needle"}));
  const Walkthrough walk = AnswerEveryPrompt(t);
  EXPECT_TRUE(ExitedWithZero(walk.exit));
  EXPECT_EQ(walk.headers, (std::vector<std::string>{"Found in ./a.txt - position 0:",
                                                    "Found in ./alink.txt - position 0:"}));
  ExpectSummary(t, "2 files found containing the text \"needle\"",
                "2 occurrences of the text \"needle\"");
}

// ---------------------------------------------------------------------------------------------
// Matching and positions

TEST(Matching, OverlappingCaseInsensitiveMatchesAreEachShown) {
  TempTree tree;
  tree.File("a.txt", "aAaA");
  PtyTerminal t(In(tree, {"*.txt", "aa"}));
  const Walkthrough walk = AnswerEveryPrompt(t);
  EXPECT_TRUE(ExitedWithZero(walk.exit));
  EXPECT_EQ(walk.headers, (std::vector<std::string>{"Found in ./a.txt - position 0:",
                                                    "Found in ./a.txt - position 1:",
                                                    "Found in ./a.txt - position 2:"}));
  ExpectSummary(t, "1 file found containing the text \"aa\"", "3 occurrences of the text \"aa\"");
}

TEST(Matching, PositionsCountTranslatedLineEnds) {
  TempTree tree;
  std::string content;
  for (int i = 0; i < 10; ++i) content += "row\r\n";
  content += "a\rb needle";  // a lone CR stays a byte of its own
  tree.File("crlf.txt", content);
  PtyTerminal t(In(tree, {"*.txt", "needle"}));
  ASSERT_TRUE(ReachPrompt(t, 1));
  EXPECT_EQ(t.Row(0), "Found in ./crlf.txt - position 44:") << Describe(t);
  t.SendKeys("n");
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
}

TEST(Matching, ByteTwentySixEndsTheContent) {
  TempTree tree;
  tree.File("a.txt", "needle\x1a needle");
  tree.File("b.txt", "\x1aneedle");
  PtyTerminal t(In(tree, {"*.txt", "needle"}));
  const Walkthrough walk = AnswerEveryPrompt(t);
  EXPECT_TRUE(ExitedWithZero(walk.exit));
  EXPECT_EQ(walk.headers, std::vector<std::string>{"Found in ./a.txt - position 0:"});
  ExpectSummary(t, "1 file found containing the text \"needle\"",
                "1 occurrence of the text \"needle\"");
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
  ExpectSummary(t, "1 file found containing the text \"needle\"",
                "2 occurrences of the text \"needle\"");
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

// ---------------------------------------------------------------------------------------------
// Keys at the prompt

TEST(Keys, SkipKeyGoesOnWithTheNextFile) {
  for (const char* key : {"S", "s"}) {
    SCOPED_TRACE(key);
    TempTree tree;
    tree.File("a.txt", "needle needle needle");
    tree.File("b.txt", "needle");
    PtyTerminal t(In(tree, {"*.txt", "needle"}));
    ASSERT_TRUE(AnswerPrompt(t, 1, key));
    const Walkthrough walk = AnswerEveryPrompt(t, "n", 1);
    EXPECT_TRUE(ExitedWithZero(walk.exit));
    EXPECT_EQ(walk.headers, std::vector<std::string>{"Found in ./b.txt - position 0:"});
    // The skipped matches were never counted.
    ExpectSummary(t, "2 files found containing the text \"needle\"",
                  "2 occurrences of the text \"needle\"");
  }
}

TEST(Keys, OtherKeysGoOnWithTheNextMatch) {
  const struct {
    const char* name;
    std::string key;
    std::string echo;
  } cases[] = {
      {"letter", "x", "x"},
      {"Enter", "\r", ""},
      {"Ctrl+C", "\x03", "\u2665"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempTree tree;
    tree.File("a.txt", "needle needle");
    PtyTerminal t(In(tree, {"*.txt", "needle"}));
    ASSERT_TRUE(AnswerPrompt(t, 1, c.key));
    const Walkthrough walk = AnswerEveryPrompt(t, "n", 1);
    EXPECT_TRUE(ExitedWithZero(walk.exit));
    EXPECT_EQ(walk.headers, std::vector<std::string>{"Found in ./a.txt - position 7:"});
    if (!c.echo.empty()) {
      EXPECT_NE(t.Transcript().find(std::string(kPromptTail) + c.echo), std::string::npos)
          << "key not echoed" << Describe(t);
    }
    ExpectSummary(t, "1 file found containing the text \"needle\"",
                  "2 occurrences of the text \"needle\"");
  }
}

TEST(Keys, EscAtTheFirstMatchStopsTheWholeSearch) {
  TempTree tree;
  tree.File("a.txt", "needle needle");
  tree.File("b.txt", "needle");
  PtyTerminal t(In(tree, {"*.txt", "needle"}));
  ASSERT_TRUE(AnswerPrompt(t, 1, "\x1b"));
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
  EXPECT_TRUE(HasRow(t, std::string(kPrompt) + "\u2190")) << Describe(t);
  ExpectSummary(t, "1 file found containing the text \"needle\"",
                "1 occurrence of the text \"needle\"");
  EXPECT_EQ(t.Transcript().find("b.txt"), std::string::npos);
  EXPECT_EQ(t.Transcript().find("position 7"), std::string::npos);
}

TEST(Keys, KeyWithAnEscapeSequenceIsOneKeyPress) {
  // Arrows (normal and application mode), Page Up, Alt+x.
  for (const char* key : {"\x1b[A", "\x1bOB", "\x1b[5~", "\x1bx"}) {
    SCOPED_TRACE(Printable(key));
    TempTree tree;
    tree.File("a.txt", "needle needle");
    PtyTerminal t(In(tree, {"*.txt", "needle"}));
    ASSERT_TRUE(AnswerPrompt(t, 1, key));
    ASSERT_TRUE(ReachPrompt(t, 2));
    EXPECT_EQ(t.Row(0), "Found in ./a.txt - position 7:");
    // The rest of the key must not answer the second prompt.
    t.Pump(200);
    EXPECT_TRUE(t.Running()) << Describe(t);
    EXPECT_EQ(t.Transcript().find("Search complete"), std::string::npos);
    t.SendKeys("n");
    EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
    ExpectSummary(t, "1 file found containing the text \"needle\"",
                  "2 occurrences of the text \"needle\"");
  }
}

TEST(Keys, KeysTypedBeforeThePromptAreDropped) {
  TempTree tree;
  tree.File("a.txt", "needle needle");
  LaunchOptions options = In(tree, {"*.txt", "needle"});
  options.typeahead = "xxxx";
  PtyTerminal t(options);
  ASSERT_TRUE(ReachPrompt(t, 1));
  t.Pump(200);
  EXPECT_TRUE(t.Running());
  EXPECT_EQ(t.Transcript().find("position 7"), std::string::npos) << Describe(t);
  const Walkthrough walk = AnswerEveryPrompt(t);
  EXPECT_TRUE(ExitedWithZero(walk.exit));
  EXPECT_EQ(walk.headers, (std::vector<std::string>{"Found in ./a.txt - position 0:",
                                                    "Found in ./a.txt - position 7:"}));
}

// ---------------------------------------------------------------------------------------------
// The match screen

TEST(MatchScreen, LayoutAndColours) {
  TempTree tree;
  tree.File("a.txt", "before NeEdLe after");
  PtyTerminal t(In(tree, {"*.txt", "needle"}));
  ASSERT_TRUE(ReachPrompt(t, 1));
  EXPECT_EQ(t.Row(0), "Found in ./a.txt - position 7:") << Describe(t);
  EXPECT_EQ(t.Row(1), "");
  EXPECT_EQ(t.Row(2), "before NeEdLe after");
  EXPECT_EQ(t.Row(3), "");
  EXPECT_EQ(t.Row(4), kPromptRow);
  ExpectDefaultColours(t, 0, 0, 30);
  ExpectColours(t, 2, 0, 7, kBrightYellow, kBlack);
  ExpectColours(t, 2, 7, 13, kBlack, kGrey);
  ExpectColours(t, 2, 13, 19, kBrightYellow, kBlack);
  ExpectDefaultColours(t, 4, 0, static_cast<int>(kPrompt.size()));
  t.SendKeys("n");
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
}

TEST(MatchScreen, ContextIsAtMost250BytesEachSideAndStopsAtNul) {
  TempTree tree;
  tree.File("a.txt", Repeat('x', 300) + "needle" + Repeat('y', 300));
  tree.File("b.txt", "abc\0hidden needle tail\0more"s);
  PtyTerminal t(In(tree, {"*.txt", "needle"}));
  ASSERT_TRUE(ReachPrompt(t, 1));
  std::string shown;  // the rows between the header and the prompt
  for (int row = 1; row < t.rows() && t.Row(row) != kPromptRow; ++row) shown += t.Row(row);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), 'x'), 250) << Describe(t);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), 'y'), 250) << Describe(t);
  t.SendKeys("n");
  ASSERT_TRUE(ReachPrompt(t, 2));
  EXPECT_EQ(t.Row(0), "Found in ./b.txt - position 11:");
  EXPECT_EQ(t.Row(2), "abcneedle tail") << Describe(t);
  t.SendKeys("n");
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
}

TEST(MatchScreen, ContextBreaksOneColumnBeforeTheWindowEdge) {
  TempTree tree;
  tree.File("w1.txt", Repeat('a', 100) + "needle");
  tree.File("w2.txt", "x\n" + Repeat('b', 100) + "needle");
  tree.File("w3.txt", Repeat('c', 75) + "needle tail");
  PtyTerminal t(In(tree, {"*.txt", "needle"}));

  ASSERT_TRUE(ReachPrompt(t, 1));
  EXPECT_EQ(t.Row(2), Repeat('a', 79)) << Describe(t);
  EXPECT_EQ(t.Row(3), Repeat('a', 21) + "needle");
  t.SendKeys("n");

  // After a line feed the next line breaks one byte earlier.
  ASSERT_TRUE(ReachPrompt(t, 2));
  EXPECT_EQ(t.Row(2), "x") << Describe(t);
  EXPECT_EQ(t.Row(3), Repeat('b', 78));
  EXPECT_EQ(t.Row(4), Repeat('b', 22) + "needle");
  t.SendKeys("n");

  // The count carries on from the context into the match.
  ASSERT_TRUE(ReachPrompt(t, 3));
  EXPECT_EQ(t.Row(2), Repeat('c', 75) + "need") << Describe(t);
  EXPECT_EQ(t.Row(3), "le tail");
  ExpectColours(t, 3, 0, 2, kBlack, kGrey);
  ExpectColours(t, 3, 2, 7, kBrightYellow, kBlack);
  t.SendKeys("n");
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
}

TEST(MatchScreen, NarrowWindowBreaksAtItsOwnEdge) {
  TempTree tree;
  tree.File("n.txt", Repeat('d', 50) + "needle");
  LaunchOptions options = In(tree, {"*.txt", "needle"});
  options.cols = 40;
  PtyTerminal t(options);
  ASSERT_TRUE(ReachPrompt(t, 1));
  EXPECT_EQ(t.Row(2), Repeat('d', 39)) << Describe(t);
  EXPECT_EQ(t.Row(3), Repeat('d', 11) + "needle");
  t.SendKeys("n");
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
}

TEST(MatchScreen, WindowWidthIsReadAgainForEachMatch) {
  TempTree tree;
  tree.File("a.txt", Repeat('e', 70) + "needle " + Repeat('f', 70) + "needle");
  PtyTerminal t(In(tree, {"*.txt", "needle"}));
  ASSERT_TRUE(ReachPrompt(t, 1));
  EXPECT_EQ(t.Row(2), Repeat('e', 70) + "needle " + Repeat('f', 2)) << Describe(t);
  ASSERT_TRUE(t.Resize(24, 60));
  t.SendKeys("n");
  ASSERT_TRUE(ReachPrompt(t, 2));
  EXPECT_EQ(t.Row(2), Repeat('e', 59)) << Describe(t);
  EXPECT_EQ(t.Row(3), Repeat('e', 11) + "needle " + Repeat('f', 41));
  EXPECT_EQ(t.Row(4), Repeat('f', 29) + "needle");
  t.SendKeys("n");
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
}

TEST(MatchScreen, ControlBytesInNamesAndContentAreShownNotObeyed) {
  TempTree tree;
  tree.File("\x1b[2Jevil.txt",
            "safe line\n\x1b[2J\x1b]0;pwned\x07\x1b[31mRED needle\x01\x7f\xC2\x9B\xFF\tend");
  PtyTerminal t(In(tree, {"*.txt", "needle"}));
  ASSERT_TRUE(ReachPrompt(t, 1));
  EXPECT_EQ(t.Row(0), "Found in ./\u2190[2Jevil.txt - position 33:") << Describe(t);
  EXPECT_EQ(t.Row(2), "safe line");
  EXPECT_EQ(t.Row(3), "\u2190[2J\u2190]0;pwned\u2190[31mRED needle\u263A\u2302\uFFFD\uFFFD\uFFFD" +
                          Repeat(' ', 7) + "end");
  ExpectColours(t, 3, 18, 22, kBrightYellow, kBlack);  // "RED " is context, not red
  ExpectColours(t, 3, 22, 28, kBlack, kGrey);
  t.SendKeys("n");
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
}

TEST(MatchScreen, ControlBytesInTheSearchTextAreShownNotObeyed) {
  TempTree tree;
  tree.File("a.txt", "plain \x1b[31mred");
  PtyTerminal t(In(tree, {"*.txt", "\x1b[31m"}));
  ASSERT_TRUE(ReachPrompt(t, 1));
  EXPECT_EQ(t.Row(2), "plain \u2190[31mred") << Describe(t);
  ExpectColours(t, 2, 6, 11, kBlack, kGrey);
  t.SendKeys("n");
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
  ExpectSummary(t, "1 file found containing the text \"\u2190[31m\"",
                "1 occurrence of the text \"\u2190[31m\"");
}

// ---------------------------------------------------------------------------------------------
// Output that is not a terminal, and no keyboard

TEST(NoTerminal, RedirectedOutputStaysEmptyWhileKeysAreStillRead) {
  TempTree tree;
  tree.File("data/a.txt", "needle needle");
  LaunchOptions options = In(tree, {"data/*.txt", "needle"});
  options.stdoutFile = tree.Path("out.log");
  PtyTerminal t(options);
  ASSERT_TRUE(t.WaitForRawMode()) << Describe(t);
  t.Pump(200);
  EXPECT_TRUE(t.Running());
  t.SendKeys("x");
  ASSERT_TRUE(t.WaitForText("x")) << Describe(t);  // the echo still reaches the terminal
  ASSERT_TRUE(t.WaitForRawMode()) << Describe(t);
  t.Pump(100);
  EXPECT_TRUE(t.Running());
  t.SendKeys("y");
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
  EXPECT_EQ(t.Transcript(), "xy");
  EXPECT_EQ(ReadAll(tree.Path("out.log")), "");
}

TEST(NoTerminal, WithoutAKeyboardEveryMatchIsPassedAtOnce) {
  TempTree tree;
  tree.File("a.txt", "needle needle");
  LaunchOptions options = In(tree, {"*.txt", "needle"});
  options.connection = Connection::kTerminalWithoutControl;
  PtyTerminal t(options);
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
  std::size_t prompts = 0;
  for (std::size_t at = t.Transcript().find(kPrompt); at != std::string::npos;
       at = t.Transcript().find(kPrompt, at + 1))
    ++prompts;
  EXPECT_EQ(prompts, 2u) << Describe(t);
  ExpectSummary(t, "1 file found containing the text \"needle\"",
                "2 occurrences of the text \"needle\"");
}

TEST(NoTerminal, NoTerminalAtAllWritesNothingAndFinishes) {
  TempTree tree;
  tree.File("a.txt", "needle needle");
  LaunchOptions options = In(tree, {"*.txt", "needle"});
  options.connection = Connection::kPipesOnly;
  PtyTerminal t(options);
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
  EXPECT_EQ(t.Transcript(), "");
}

// ---------------------------------------------------------------------------------------------
// Signals

// The modes a new pseudo-terminal starts with: those of the child's terminal before qz ran.
struct termios FreshTerminalModes() {
  struct termios mode = {};
  int master, slave;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) == 0) {
    tcgetattr(slave, &mode);
    close(slave);
    close(master);
  }
  return mode;
}

testing::AssertionResult SameModes(const struct termios& want, const struct termios& got) {
  if (want.c_iflag != got.c_iflag || want.c_oflag != got.c_oflag ||
      want.c_cflag != got.c_cflag || want.c_lflag != got.c_lflag ||
      !std::equal(std::begin(want.c_cc), std::end(want.c_cc), std::begin(got.c_cc)))
    return testing::AssertionFailure()
           << std::hex << "iflag " << got.c_iflag << " oflag " << got.c_oflag << " lflag "
           << got.c_lflag << ", want " << want.c_iflag << " " << want.c_oflag << " "
           << want.c_lflag;
  return testing::AssertionSuccess();
}

// Whether the colours are the terminal's own at the end of `raw`: the last colour sequence
// written, if any, is SGR 0.
testing::AssertionResult ColoursEndReset(const std::string& raw) {
  std::size_t last = std::string::npos;
  for (std::size_t at = raw.find("\x1b["); at != std::string::npos; at = raw.find("\x1b[", at + 1)) {
    const std::size_t end = raw.find_first_not_of("0123456789;", at + 2);
    if (end != std::string::npos && raw[end] == 'm') last = at;
  }
  if (last == std::string::npos || raw.compare(last, 4, "\x1b[0m") == 0)
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << "last colour: "
                                     << Printable(std::string_view(raw).substr(last, 16));
}

// Whether `pid` waits in a write() to `fd`; `count` is the number of bytes it writes.
bool WaitsInWrite(pid_t pid, int fd, unsigned long& count) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/syscall");
  long number = -1;
  std::string fdArg, buffer, countArg;
  if (!(in >> number >> fdArg >> buffer >> countArg) || number != SYS_write) return false;
  count = std::stoul(countArg, nullptr, 16);
  return std::stoul(fdArg, nullptr, 16) == static_cast<unsigned long>(fd);
}

TEST(Signals, DeathAtThePromptPutsTheTerminalModesBack) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    TempTree tree;
    tree.File("a.txt", "needle");
    PtyTerminal t(In(tree, {"*.txt", "needle"}));
    ASSERT_TRUE(ReachPrompt(t, 1));
    struct termios mode;
    ASSERT_TRUE(t.GetTermios(mode));
    EXPECT_FALSE(mode.c_lflag & (ICANON | ECHO));  // the key read's own modes
    t.Signal(sig);
    const ExitStatus s = t.WaitExit();
    EXPECT_TRUE(s.ended);
    EXPECT_FALSE(s.exited);
    EXPECT_EQ(s.signal, sig);
    ASSERT_TRUE(t.GetTermios(mode));
    EXPECT_TRUE(SameModes(FreshTerminalModes(), mode));
    EXPECT_TRUE(ColoursEndReset(t.Transcript()));
    EXPECT_EQ(t.Transcript().find("Search complete"), std::string::npos);
  }
}

// Killed while it walks, before any prompt: output is held (Ctrl+S) so that qz waits in the
// write of the path of the file it searches, a sparse file too large to be done with first.
TEST(Signals, DeathDuringTheWalkLeavesTheTerminalAsItWas) {
  TempTree tree;
  for (int i = 0; i < 20; ++i) tree.File("sub" + std::to_string(i) + "/a.txt", "no match");
  tree.File("zz/huge.txt", "");
  ASSERT_EQ(truncate(tree.Path("zz/huge.txt").c_str(), off_t{8} << 30), 0);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    LaunchOptions options = In(tree, {"*.txt", "needle", "/s"});
    options.typeahead = "\x13";  // Ctrl+S: the terminal holds all output from the start
    PtyTerminal t(options);
    ASSERT_TRUE(t.started()) << t.startError();
    unsigned long count = 0;
    bool waiting = false;
    for (int i = 0; i < ScaledTimeout(2000) && t.Running() && !waiting; ++i) {
      waiting = WaitsInWrite(t.pid(), STDOUT_FILENO, count);
      if (!waiting) usleep(5000);
    }
    ASSERT_TRUE(waiting) << "qz never waited in a write";
    // A clear and a path, not the summary.
    EXPECT_LT(count, 60u);
    t.Signal(sig);
    t.SendKeys("\x11");  // Ctrl+Q: let the output go
    const ExitStatus s = t.WaitExit();
    EXPECT_TRUE(s.ended);
    EXPECT_EQ(s.signal, sig);
    struct termios mode;
    ASSERT_TRUE(t.GetTermios(mode));
    EXPECT_TRUE(SameModes(FreshTerminalModes(), mode));
    EXPECT_TRUE(ColoursEndReset(t.Transcript()));
    EXPECT_EQ(t.Transcript().find("Search complete"), std::string::npos);
  }
}

TEST(Signals, DeathAtAKeyReadWithRedirectedOutputPutsTheTerminalModesBack) {
  TempTree tree;
  tree.File("a.txt", "needle");
  LaunchOptions options = In(tree, {"*.txt", "needle"});
  options.stdoutFile = tree.Path("out.log");
  PtyTerminal t(options);
  ASSERT_TRUE(t.WaitForRawMode()) << Describe(t);
  t.Signal(SIGTERM);
  const ExitStatus s = t.WaitExit();
  EXPECT_EQ(s.signal, SIGTERM);
  struct termios mode;
  ASSERT_TRUE(t.GetTermios(mode));
  EXPECT_TRUE(mode.c_lflag & ICANON);
  EXPECT_TRUE(mode.c_lflag & ECHO);
}

TEST(Signals, DeathWhileWritingInColourPutsTheColoursBack) {
  TempTree tree;
  // A match far longer than the terminal buffers: with nothing reading the terminal, qz waits
  // in the middle of writing it in the match colours.
  const std::string text = Repeat('q', 120000);
  tree.File("a.txt", "start " + text);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    PtyTerminal t(In(tree, {"*.txt", text}));
    ASSERT_TRUE(t.WaitForOutputCount("\x1b[0;30;100m", 1)) << Describe(t);
    t.Signal(sig);
    const ExitStatus s = t.WaitExit();
    EXPECT_TRUE(s.ended);
    EXPECT_EQ(s.signal, sig);
    EXPECT_EQ(t.Transcript().find(kPromptTail), std::string::npos);
    const std::string& raw = t.Transcript();
    EXPECT_TRUE(raw.ends_with("\x1b[0m"))
        << Printable(std::string_view(raw).substr(raw.size() > 40 ? raw.size() - 40 : 0));
    struct termios mode;
    ASSERT_TRUE(t.GetTermios(mode));
    EXPECT_TRUE(SameModes(FreshTerminalModes(), mode));
  }
}

TEST(Signals, CtrlCOutsideAKeyReadEndsTheRun) {
  TempTree tree;  // no files: qz goes straight to the summary
  // The summary holds the search text twice, far more than the terminal buffers, so once
  // nothing reads the terminal qz waits in its write, where Ctrl+C is an interrupt.
  const std::string text = Repeat('q', 100000);
  PtyTerminal t(In(tree, {"*.txt", text}));
  ASSERT_TRUE(t.WaitForOutputCount("Search complete", 1)) << Describe(t);
  t.SendKeys("\x03");
  const ExitStatus s = t.WaitExit();
  EXPECT_TRUE(s.ended);
  EXPECT_FALSE(s.exited);
  EXPECT_EQ(s.signal, SIGINT);
  EXPECT_EQ(t.Transcript().find("occurrences of the text"), std::string::npos);
}

}  // namespace
}  // namespace qz_e2e
