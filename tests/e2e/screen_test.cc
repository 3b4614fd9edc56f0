// End-to-end tests of what the screen shows: the match report's layout, colours and wrapping,
// text that must not act on the terminal, a screen that never goes stale, and output that is
// not a terminal.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace qz_e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// ---------------------------------------------------------------------------------------------
// The match screen

TEST(MatchScreen, LayoutAndColours) {
  TempTree tree;
  tree.File("a.txt", "before NeEdLe after");
  PtyTerminal t(In(tree, {"*.txt", "needle"}));
  ASSERT_TRUE(PromptWithHeader(t, 1, "Found in ./a.txt - position 7:"));
  EXPECT_EQ(t.Row(1), "");
  EXPECT_EQ(t.Row(2), "before NeEdLe after");
  EXPECT_EQ(t.Row(3), "");
  EXPECT_EQ(t.Row(4), kPromptRow);
  ExpectDefaultColours(t, 0, 0, 30);
  ExpectColours(t, 2, 0, 7, kBrightYellow, kBlack);
  ExpectColours(t, 2, 7, 13, kBlack, kGrey);
  ExpectColours(t, 2, 13, 19, kBrightYellow, kBlack);
  ExpectDefaultColours(t, 4, 0, static_cast<int>(kPrompt.size()));
  EXPECT_TRUE(AnswerAndExit(t));
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
  ASSERT_TRUE(PromptWithHeader(t, 2, "Found in ./b.txt - position 11:"));
  EXPECT_EQ(t.Row(2), "abcneedle tail") << Describe(t);
  EXPECT_TRUE(AnswerAndExit(t));
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
  EXPECT_TRUE(AnswerAndExit(t));
}

TEST(MatchScreen, NarrowWindowBreaksAtItsOwnEdge) {
  TempTree tree;
  tree.File("n.txt", Repeat('d', 50) + "needle");
  PtyTerminal t(In(tree, {"*.txt", "needle"}, {.cols = 40}));
  ASSERT_TRUE(ReachPrompt(t, 1));
  EXPECT_EQ(t.Row(2), Repeat('d', 39)) << Describe(t);
  EXPECT_EQ(t.Row(3), Repeat('d', 11) + "needle");
  EXPECT_TRUE(AnswerAndExit(t));
}

TEST(MatchScreen, AWindowThatTellsNoSizeIsTakenAsEightyColumnsWide) {
  TempTree tree;
  tree.File("n.txt", Repeat('d', 100) + "needle");
  PtyTerminal t(In(tree, {"*.txt", "needle"}, {.cols = 120, .sizeUnknown = true}));
  ASSERT_TRUE(ReachPrompt(t, 1));
  EXPECT_EQ(t.Row(0), "Found in ./n.txt - position 100:") << Describe(t);
  EXPECT_EQ(t.Row(2), Repeat('d', 79)) << Describe(t);
  EXPECT_EQ(t.Row(3), Repeat('d', 21) + "needle");
  EXPECT_TRUE(AnswerAndExit(t));
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
  EXPECT_TRUE(AnswerAndExit(t));
}

TEST(MatchScreen, ControlBytesInNamesAndContentAreShownNotObeyed) {
  TempTree tree;
  tree.File("\x1b[2Jevil.txt",
            "safe line\n\x1b[2J\x1b]0;pwned\x07\x1b[31mRED needle\x01\x7f\xC2\x9B\xFF\tend");
  PtyTerminal t(In(tree, {"*.txt", "needle"}));
  ASSERT_TRUE(PromptWithHeader(t, 1, "Found in ./\u2190[2Jevil.txt - position 33:"));
  EXPECT_EQ(t.Row(2), "safe line");
  EXPECT_EQ(t.Row(3), "\u2190[2J\u2190]0;pwned\u2190[31mRED needle\u263A\u2302\uFFFD\uFFFD\uFFFD" +
                          Repeat(' ', 7) + "end");
  ExpectColours(t, 3, 18, 22, kBrightYellow, kBlack);  // "RED " is context, not red
  ExpectColours(t, 3, 22, 28, kBlack, kGrey);
  EXPECT_TRUE(AnswerAndExit(t));
}

TEST(MatchScreen, ControlBytesInTheSearchTextAreShownNotObeyed) {
  TempTree tree;
  tree.File("a.txt", "plain \x1b[31mred");
  PtyTerminal t(In(tree, {"*.txt", "\x1b[31m"}));
  ASSERT_TRUE(ReachPrompt(t, 1));
  EXPECT_EQ(t.Row(2), "plain \u2190[31mred") << Describe(t);
  ExpectColours(t, 2, 6, 11, kBlack, kGrey);
  EXPECT_TRUE(AnswerAndExit(t));
  ExpectSummary(t, "1 file found containing the text \"\u2190[31m\"",
                "1 occurrence of the text \"\u2190[31m\"");
}

// A CR, LF or BS in the search text would move the cursor inside the summary and write over
// the counts; it shows as its symbol there, as in a path.
TEST(MatchScreen, CursorMovingBytesInTheSearchTextCannotHideTheCounts) {
  const struct {
    const char* name;
    std::string text;
    std::string shown;
  } cases[] = {
      {"CR", "\rneedle", "\u266Aneedle"},
      {"LF", "\nneedle", "\u25D9needle"},
      {"BS", "\b\b\b\bneedle", "\u25D8\u25D8\u25D8\u25D8needle"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempTree tree;
    tree.File("a.txt", Times("x" + c.text, 12));
    PtyTerminal t(In(tree, {"*.txt", c.text}));
    EXPECT_TRUE(ExitedWithZero(AnswerEveryPrompt(t).exit));
    ExpectSummary(t, "1 file found containing the text \"" + c.shown + "\"",
                  "12 occurrences of the text \"" + c.shown + "\"");
  }
}

// ---------------------------------------------------------------------------------------------
// What the screen shows while the walk works, and text that must not act

// After the key, the walk goes through thousands of empty directories and writes nothing until
// the summary: the clear must be on the screen long before that.
TEST(Screen, TheClearAfterAKeyShowsWhileTheWalkWritesNothing) {
  TempTree tree("/dev/shm");
  tree.File("a.txt", "needle");
  for (int i = 0; i < 30000; ++i) fs::create_directory(tree.Path("d" + std::to_string(100000 + i)));
  PtyTerminal t(In(tree, {"*.txt", "needle", "/s"}));
  ASSERT_TRUE(ReachPrompt(t, 1));
  const std::size_t clears = CountOccurrences(t.Transcript(), kClear);
  t.SendKeys("n");
  ASSERT_TRUE(t.WaitForOutputCount(kClear, clears + 1, 20000)) << Describe(t);
  EXPECT_EQ(t.Transcript().find("Search complete"), std::string::npos)
      << "the clear came only with the summary" << Describe(t);
  EXPECT_EQ(t.ScreenText().find_first_not_of('\n'), std::string::npos) << Describe(t);
  EXPECT_TRUE(ExitedWithZero(t.WaitExit(20000)));
  EXPECT_TRUE(HasRow(t, "1 occurrence of the text \"needle\"")) << Describe(t);
}

// libvterm keeps no scrollback, so a terminal that does (tmux, with its history) shows what the
// clear does to it: the lines the user had before qz started are still there at the end.
TEST(Screen, ClearingTheWindowLeavesTheScrollbackAlone) {
  ASSERT_TRUE(HaveProgram("tmux")) << "the test needs tmux";
  TempTree tree;
  tree.File("a.txt", "needle");
  const std::string socket = "qz-e2e-" + std::to_string(getpid());
  const auto tmux = [&](const std::string& command) {
    std::string out;
    FILE* pipe = popen(("tmux -L " + socket + " -f /dev/null " + command + " 2>&1").c_str(), "r");
    if (!pipe) return out;
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    pclose(pipe);
    return out;
  };
  const auto waitFor = [&](const std::string& text) {
    return WaitFor([&] { return tmux("capture-pane -p").find(text) != std::string::npos; },
                   10000, 20);
  };
  struct ServerGuard {
    std::function<std::string(const std::string&)> run;
    ~ServerGuard() { run("kill-server"); }
  } server{tmux};
  tmux("new-session -d -x 80 -y 10 -c '" + tree.path() + "' 'seq 101 140; " + QzProgram() +
       " \"*.txt\" needle; sleep 60'");
  ASSERT_TRUE(waitFor("to continue:")) << tmux("capture-pane -p");
  tmux("send-keys Escape");
  ASSERT_TRUE(waitFor("Search complete")) << tmux("capture-pane -p");
  const std::string history = tmux("capture-pane -p -S - -E -");
  EXPECT_NE(history.find("101\n102\n"), std::string::npos) << history;
  EXPECT_NE(history.find("139\n140\n"), std::string::npos) << history;
}

// A letter and its accent at the edge stay on one row; an emoji sequence that would pass the
// edge moves to the next row whole.
TEST(Screen, ACharacterIsNeverCutFromItsMarks) {
  const std::string accented = "e\u0301\u0323";  // one cell, three code points
  const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
  TempTree tree;
  tree.File("1.txt", Repeat('a', 78) + accented + "needle");
  tree.File("2.txt", Repeat('b', 75) + family + "needle");
  PtyTerminal t(In(tree, {"*.txt", "needle"}));
  ASSERT_TRUE(ReachPrompt(t, 1));
  EXPECT_EQ(t.Row(2), Repeat('a', 78) + accented) << Describe(t);
  EXPECT_EQ(t.Row(3), "needle");
  t.SendKeys("n");
  ASSERT_TRUE(ReachPrompt(t, 2));
  EXPECT_EQ(t.Row(2), Repeat('b', 75)) << Describe(t);
  EXPECT_EQ(t.Row(3).rfind("\U0001F468", 0), 0u) << Describe(t);
  EXPECT_NE(t.Row(3).find("needle"), std::string::npos);
  EXPECT_TRUE(AnswerAndExit(t));
}

TEST(Screen, ContextWrapsByCellsAndNeverInsideACharacter) {
  const std::string accent = "\u00E9";  // one cell, two bytes
  const std::string wide = "\u4E2D";    // two cells, three bytes
  const std::string emoji = "\u231A\u26A1\u2705\U0001F004";  // two cells each
  TempTree tree;
  tree.File("1.txt", Times(accent, 100) + "needle");
  tree.File("2.txt", Times(wide, 50) + "needle");
  tree.File("3.txt", Times(emoji, 10) + "needle");
  PtyTerminal t(In(tree, {"*.txt", "needle"}));

  // 79 characters of one cell, as 79 bytes of ASCII would be.
  ASSERT_TRUE(ReachPrompt(t, 1));
  EXPECT_EQ(t.Row(2), Times(accent, 79)) << Describe(t);
  EXPECT_EQ(t.Row(3), Times(accent, 21) + "needle");
  t.SendKeys("n");

  // 39 wide characters fill 78 cells; the 40th would reach the edge column and starts the next
  // line.
  ASSERT_TRUE(ReachPrompt(t, 2));
  EXPECT_EQ(t.Row(2), Times(wide, 39)) << Describe(t);
  EXPECT_EQ(t.Row(3), Times(wide, 11) + "needle");
  t.SendKeys("n");

  ASSERT_TRUE(ReachPrompt(t, 3));
  const std::string all = Times(emoji, 10);
  // Each emoji is 3 or 4 bytes; 39 of them to the first row.
  std::string first, rest;
  int count = 0;
  for (std::size_t i = 0; i < all.size(); ++count) {
    const std::size_t length = static_cast<unsigned char>(all[i]) >= 0xF0 ? 4 : 3;
    (count < 39 ? first : rest) += all.substr(i, length);
    i += length;
  }
  EXPECT_EQ(t.Row(2), first) << Describe(t);
  EXPECT_EQ(t.Row(3), rest + "needle");
  EXPECT_EQ(t.Transcript().find("\uFFFD"), std::string::npos) << "a character was cut";
  EXPECT_TRUE(AnswerAndExit(t));
}

TEST(Screen, ANameCannotForgeAHeaderOrMoveTheCursor) {
  TempTree tree;
  tree.File("x\rFound in /a.txt", "needle");
  tree.File("t\tb\bn\nl/c.txt", "needle");
  PtyTerminal t(In(tree, {"*.txt", "needle", "/s"}));
  ASSERT_TRUE(PromptWithHeader(t, 1, "Found in ./t\u25CBb\u25D8n\u25D9l/c.txt - position 0:"));
  t.SendKeys("n");
  ASSERT_TRUE(PromptWithHeader(t, 2, "Found in ./x\u266AFound in /a.txt - position 0:"));
  EXPECT_TRUE(AnswerAndExit(t));
}

TEST(Screen, InvisibleReorderingAndSeparatorsShowAsReplacements) {
  TempTree tree;
  // RLO in the name; LRI, PDI, RLM and LINE SEPARATOR in the content; ALM in the search text.
  tree.File("rtl\u202Etxt.txt", "abc \u2066ne\u061Cedle\u2069 x\u200Fy\u2028z");
  PtyTerminal t(In(tree, {"*.txt", "ne\u061Cedle"}));
  ASSERT_TRUE(PromptWithHeader(t, 1, "Found in ./rtl\uFFFDtxt.txt - position 7:"));
  EXPECT_EQ(t.Row(2), "abc \uFFFDne\uFFFDedle\uFFFD x\uFFFDy\uFFFDz");
  EXPECT_TRUE(AnswerAndExit(t));
  EXPECT_TRUE(HasRow(t, "1 occurrence of the text \"ne\uFFFDedle\"")) << Describe(t);
}

// ---------------------------------------------------------------------------------------------
// Output that is not a terminal, and no keyboard

TEST(NoTerminal, RedirectedOutputStaysEmptyWhileKeysAreStillRead) {
  TempTree tree;
  tree.File("data/a.txt", "needle needle");
  PtyTerminal t(In(tree, {"data/*.txt", "needle"}, {.stdoutFile = tree.Path("out.log")}));
  ASSERT_TRUE(t.WaitForRawMode()) << Describe(t);
  t.Pump(200);
  EXPECT_TRUE(t.Running());
  t.SendKeys("x");
  ASSERT_TRUE(t.WaitForText("x")) << Describe(t);  // the echo still reaches the terminal
  ASSERT_TRUE(t.WaitForRawMode()) << Describe(t);
  t.Pump(100);
  EXPECT_TRUE(t.Running());
  EXPECT_TRUE(AnswerAndExit(t, "y"));
  EXPECT_EQ(t.Transcript(), "xy");
  EXPECT_EQ(ReadAll(tree.Path("out.log")), "");
}

TEST(NoTerminal, WithoutAKeyboardEveryMatchIsPassedAtOnce) {
  TempTree tree;
  tree.File("a.txt", "needle needle");
  PtyTerminal t(In(tree, {"*.txt", "needle"}, {.connection = Connection::kTerminalWithoutControl}));
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
  std::size_t prompts = 0;
  for (std::size_t at = t.Transcript().find(kPrompt); at != std::string::npos;
       at = t.Transcript().find(kPrompt, at + 1))
    ++prompts;
  EXPECT_EQ(prompts, 2u) << Describe(t);
  ExpectCounts(t, "1 file", "2 occurrences");
}

TEST(NoTerminal, NoTerminalAtAllWritesNothingAndFinishes) {
  TempTree tree;
  tree.File("a.txt", "needle needle");
  PtyTerminal t(In(tree, {"*.txt", "needle"}, {.connection = Connection::kPipesOnly}));
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
  EXPECT_EQ(t.Transcript(), "");
}

}  // namespace
}  // namespace qz_e2e
