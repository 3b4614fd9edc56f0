// End-to-end tests of what each kind of terminal gets, as its description (TERM) says and the
// user asks (NO_COLOR): colours, the match set apart, the clear, and the wrap of tabs and bells.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_support.h"

namespace qz_e2e {
namespace {

// Colour indexes libvterm reports for the fixed black and grey of the 256-colour set and the
// light grey of the 8 colours.
constexpr int kFixedBlack = 16;
constexpr int kFixedGrey = 244;
constexpr int kLightGrey = 7;

LaunchOptions OnTerminal(const TempTree& tree, const std::string& term,
                         std::vector<std::string> environment = {}) {
  LaunchOptions options = In(tree, {"*.txt", "needle"});
  options.term = term;
  options.environment = std::move(environment);
  return options;
}

void ExpectReverse(PtyTerminal& t, int row, int from, int to, bool reverse) {
  for (int col = from; col < to; ++col) {
    const VTermScreenCell cell = t.Cell(row, col);
    EXPECT_EQ(cell.attrs.reverse != 0, reverse) << "row " << row << " col " << col;
    EXPECT_TRUE(VTERM_COLOR_IS_DEFAULT_FG(&cell.fg)) << "row " << row << " col " << col;
    EXPECT_TRUE(VTERM_COLOR_IS_DEFAULT_BG(&cell.bg)) << "row " << row << " col " << col;
  }
}

TEST(Terminals, ColourTerminalsShowTheMatchOnAGreyTheyCanShow) {
  TempTree tree;
  tree.File("a.txt", "before NeEdLe after");
  struct Case {
    std::string term;
    std::string clear;
    int contextBg, matchFg, matchBg;
  };
  for (const Case& c : {Case{"xterm-256color", "\x1b[H\x1b[2J", kFixedBlack, kFixedBlack, kFixedGrey},
                        Case{"xterm", "\x1b[H\x1b[2J", kBlack, kBlack, kGrey},
                        // The console takes bright backgrounds for dark ones: grey is 47.
                        Case{"linux", "\x1b[H\x1b[J", kBlack, kBlack, kLightGrey}}) {
    SCOPED_TRACE(c.term);
    PtyTerminal t(OnTerminal(tree, c.term));
    ASSERT_TRUE(PromptWithHeader(t, 1, "Found in ./a.txt - position 7:"));
    EXPECT_EQ(t.Row(2), "before NeEdLe after");
    ExpectColours(t, 2, 0, 7, kBrightYellow, c.contextBg);
    ExpectColours(t, 2, 7, 13, c.matchFg, c.matchBg);
    ExpectDefaultColours(t, 4, 0, static_cast<int>(kPrompt.size()));
    EXPECT_NE(t.Transcript().find(c.clear), std::string::npos) << Printable(t.Transcript());
    EXPECT_TRUE(AnswerAndExit(t));
  }
}

// Without colours (a VT100, or NO_COLOR asked for), the match is in reverse video and nothing
// is coloured.
TEST(Terminals, WithoutColoursTheMatchIsInReverseVideo) {
  TempTree tree;
  tree.File("a.txt", "before NeEdLe after");
  for (const auto& [term, environment] :
       std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"vt100", {}}, {"xterm-256color", {"NO_COLOR=1"}}}) {
    SCOPED_TRACE(term + (environment.empty() ? "" : " with NO_COLOR"));
    PtyTerminal t(OnTerminal(tree, term, environment));
    ASSERT_TRUE(PromptWithHeader(t, 1, "Found in ./a.txt - position 7:"));
    EXPECT_EQ(t.Row(2), "before NeEdLe after");
    ExpectReverse(t, 2, 0, 7, false);
    ExpectReverse(t, 2, 7, 13, true);
    ExpectReverse(t, 2, 13, 19, false);
    ExpectReverse(t, 4, 0, static_cast<int>(kPrompt.size()), false);
    EXPECT_EQ(t.Transcript().find("\x1b[0;"), std::string::npos) << Printable(t.Transcript());
    EXPECT_TRUE(AnswerAndExit(t));
  }
  // An empty NO_COLOR asks for nothing.
  PtyTerminal t(OnTerminal(tree, "xterm", {"NO_COLOR="}));
  ASSERT_TRUE(ReachPrompt(t, 1));
  ExpectColours(t, 2, 7, 13, kBlack, kGrey);
  EXPECT_TRUE(AnswerAndExit(t));
}

// A terminal that can do nothing but print (`dumb`, an unknown one, TERM unset) gets no escape
// sequence at all: each report starts after a blank line, and the match stands between marks.
TEST(Terminals, APlainTerminalGetsTextAloneWithTheMatchBetweenMarks) {
  TempTree tree;
  tree.File("a.txt", "before NeEdLe after and needle");
  for (const std::string term : {"dumb", "no-such-terminal", ""}) {
    SCOPED_TRACE("TERM=" + term);
    PtyTerminal t(OnTerminal(tree, term));
    ASSERT_TRUE(ReachPrompt(t, 1));
    EXPECT_EQ(t.Row(0), "");
    EXPECT_EQ(t.Row(1), "Found in ./a.txt - position 7:") << Describe(t);
    EXPECT_EQ(t.Row(3), "before >>NeEdLe<< after and needle") << Describe(t);
    t.SendKeys("n");
    ASSERT_TRUE(ReachPrompt(t, 2));
    // The first prompt with its answer, a blank line, then the second report.
    EXPECT_EQ(t.Row(5), std::string(kPromptRow) + " n") << Describe(t);
    EXPECT_EQ(t.Row(6), "") << Describe(t);
    EXPECT_EQ(t.Row(7), "Found in ./a.txt - position 24:") << Describe(t);
    EXPECT_EQ(t.Row(9), "before NeEdLe after and >>needle<<") << Describe(t);
    EXPECT_TRUE(AnswerAndExit(t));
    EXPECT_EQ(t.Transcript().find('\x1b'), std::string::npos) << Printable(t.Transcript());
  }
}

// What the user had on the screen before the first report goes into the scrollback.
TEST(Terminals, TheFirstClearScrollsTheScreenIntoTheScrollback) {
  TempTree tree;
  tree.File("0.txt", "the first file has no match: its clear is the first");
  tree.File("a.txt", "needle");
  LaunchOptions options;
  options.program = "sh";
  options.args = {"-c", "seq 101 140; exec \"$0\" '*.txt' needle", QzProgram()};
  options.workingDirectory = tree.path();
  options.rows = 10;
  if (RunsUnderWrapper()) GTEST_SKIP() << "runs under " << EnvironmentWrapper()[0];
  PtyTerminal t(options);
  ASSERT_TRUE(PromptWithHeader(t, 1, "Found in ./a.txt - position 0:"));
  std::string history;
  for (const std::string& row : t.Scrollback()) history += row + "\n";
  EXPECT_NE(history.find("101\n102\n"), std::string::npos) << history;
  EXPECT_NE(history.find("139\n140\n"), std::string::npos) << history;
  EXPECT_TRUE(AnswerAndExit(t));
}

// A tab counts the cells to the next tab stop: wherever it falls near the edge, the context
// rows follow one another without a stray row between them.
TEST(Terminals, ATabNearTheRowsEndLeavesNoStrayRow) {
  TempTree tree;
  std::string content;
  for (int k = 68; k < 80; ++k) content += "needle\n" + Repeat('x', k) + "\tT\n";
  tree.File("a.txt", content);
  PtyTerminal t(In(tree, {"*.txt", "needle"}));
  for (int k = 68; k < 80; ++k) {
    SCOPED_TRACE("a tab after " + std::to_string(k) + " bytes");
    ASSERT_TRUE(ReachPrompt(t, static_cast<std::size_t>(k - 67)));
    int prompt = 2;
    while (prompt < t.rows() && t.Row(prompt) != kPromptRow) ++prompt;
    ASSERT_LT(prompt, t.rows()) << Describe(t);
    // The context may start or end with a line feed, which leaves an empty row at either end.
    int first = 2, last = prompt - 2;
    while (first < last && t.Row(first).empty()) ++first;
    while (last > first && t.Row(last).empty()) --last;
    std::string shown;
    for (int row = first; row <= last; ++row) {
      EXPECT_NE(t.Row(row), "") << "a stray row " << row << Describe(t);
      shown += t.Row(row);
    }
    EXPECT_NE(shown.find(Repeat('x', k)), std::string::npos) << Describe(t);
    t.SendKeys("n");
  }
  EXPECT_TRUE(t.WaitExit().exited);
}

// A bell is neither written nor counted, so it ends no character: a letter keeps its accent
// at the row's end, and a UTF-8 character with a bell inside is shown whole.
TEST(Terminals, ABellInsideACharacterDoesNotSplitIt) {
  TempTree tree;
  tree.File("1.txt", Repeat('a', 78) + "e\a\u0301needle");
  tree.File("2.txt", Repeat('b', 77) + "\xc3\a\xa9needle");
  PtyTerminal t(In(tree, {"*.txt", "needle"}));
  ASSERT_TRUE(ReachPrompt(t, 1));
  EXPECT_EQ(t.Row(2), Repeat('a', 78) + "e\u0301") << Describe(t);
  EXPECT_EQ(t.Row(3), "needle") << Describe(t);
  t.SendKeys("n");
  ASSERT_TRUE(ReachPrompt(t, 2));
  EXPECT_EQ(t.Row(2), Repeat('b', 77) + "\u00e9n") << Describe(t);
  EXPECT_EQ(t.Row(3), "eedle") << Describe(t);
  EXPECT_EQ(t.Transcript().find("\uFFFD"), std::string::npos) << "a character was split";
  EXPECT_TRUE(AnswerAndExit(t));
}

}  // namespace
}  // namespace qz_e2e
