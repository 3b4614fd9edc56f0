// End-to-end tests of the keys: the answers at a prompt, and keys typed while qz works.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace qz_e2e {
namespace {

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
    ExpectCounts(t, "2 files", "2 occurrences");
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
      {"accented letter", "\u00e9", "\u00e9"},  // shown as typed, not as its first byte
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
    ExpectCounts(t, "1 file", "2 occurrences");
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
  ExpectCounts(t, "1 file", "1 occurrence");
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
    ASSERT_TRUE(PromptWithHeader(t, 2, "Found in ./a.txt - position 7:"));
    // The rest of the key must not answer the second prompt.
    t.Pump(200);
    EXPECT_TRUE(t.Running()) << Describe(t);
    EXPECT_EQ(t.Transcript().find("Search complete"), std::string::npos);
    EXPECT_TRUE(AnswerAndExit(t));
    ExpectCounts(t, "1 file", "2 occurrences");
  }
}

TEST(Keys, KeysTypedBeforeThePromptAreDropped) {
  TempTree tree;
  tree.File("a.txt", "needle needle");
  PtyTerminal t(In(tree, {"*.txt", "needle"}, {.typeahead = "xxxx"}));
  ASSERT_TRUE(ReachPrompt(t, 1));
  t.Pump(200);
  EXPECT_TRUE(t.Running());
  EXPECT_EQ(t.Transcript().find("position 7"), std::string::npos) << Describe(t);
  EXPECT_TRUE(WalksThrough(t, {"Found in ./a.txt - position 0:",
                               "Found in ./a.txt - position 7:"}));
}

// The answer is typed the instant the prompt arrives, before qz could have done anything after
// writing it: the key-read mode must already be on, or Ctrl+C would end the run.
TEST(Keys, CtrlCTypedAsThePromptArrivesIsAKey) {
  if (RunsUnderWrapper()) GTEST_SKIP() << "a thousand prompts take too long under a wrapper";
  constexpr int kPrompts = 1000;
  TempTree tree;
  tree.File("a.txt", Times("needle ", kPrompts));
  PtyTerminal t(In(tree, {"*.txt", "needle"}));
  for (int n = 1; n <= kPrompts; ++n) {
    ASSERT_TRUE(t.WaitForOutputCount(kPromptTail, n)) << "prompt " << n << Describe(t);
    t.SendKeys("\x03");
  }
  EXPECT_TRUE(ExitedWithZero(t.WaitExit())) << Describe(t);
  ExpectCounts(t, "1 file", "1000 occurrences");
}

// ---------------------------------------------------------------------------------------------
// Keys typed while qz works

// Output is held (Ctrl+S) so that qz waits in a write; the keys typed then must not be echoed
// by the terminal. They answer the prompt if they came after it was written, and are dropped
// before it otherwise; then another key answers it.
TEST(Modes, KeysTypedWhileQzWorksAreNotEchoed) {
  TempTree tree;
  tree.File("a.txt", "needle");
  // The terminal takes the typed Ctrl+S in on its own time; on a busy machine qz may have
  // written everything before it stops output, and then there is no write to wait in. Such a
  // run shows nothing either way, so it is run again.
  std::unique_ptr<PtyTerminal> held;
  for (int run = 0; run < 3 && !held; ++run) {
    held = std::make_unique<PtyTerminal>(In(tree, {"*.txt", "needle"}, {.typeahead = "\x13"}));
    if (!WaitUntilItWaitsInWrite(*held)) held.reset();
  }
  ASSERT_TRUE(held) << "qz never waited in a write to the terminal, in three runs";
  PtyTerminal& t = *held;
  t.SendKeys("zzz");
  t.SendKeys("\x11");
  if (t.WaitForRawMode()) t.SendKeys("n");
  EXPECT_TRUE(ExitedWithZero(t.WaitExit())) << Describe(t);
  EXPECT_EQ(t.Transcript().find("zz"), std::string::npos) << Describe(t);
  EXPECT_TRUE(HasRow(t, "1 occurrence of the text \"needle\"")) << Describe(t);
  struct termios mode;
  ASSERT_TRUE(t.GetTermios(mode));
  EXPECT_TRUE(SameModes(FreshTerminalModes(), mode));
}

// Another program on the terminal gives the interrupt key back while qz waits for a key: qz
// takes its modes again, and Ctrl+C answers the prompt as any other key does.
TEST(Modes, AnInterruptKeyTurnedBackOnAtThePromptIsTakenAwayAgain) {
  TempTree tree;
  tree.File("a.txt", "needle");
  PtyTerminal t(In(tree, {"*.txt", "needle"}));
  ASSERT_TRUE(ReachPrompt(t, 1));
  ASSERT_TRUE(t.WaitForRawMode());
  struct termios mode;
  ASSERT_TRUE(t.GetTermios(mode));
  mode.c_cc[VINTR] = 0x03;
  ASSERT_TRUE(t.SetTermios(mode));
  EXPECT_TRUE(WaitFor([&] {
    t.Pump(0);
    return t.GetTermios(mode) && mode.c_cc[VINTR] == _POSIX_VDISABLE;
  })) << "the interrupt key stayed on";
  t.SendKeys("\x03");
  EXPECT_TRUE(ExitedWithZero(t.WaitExit())) << Describe(t);
  EXPECT_TRUE(HasRow(t, "1 occurrence of the text \"needle\"")) << Describe(t);
}

}  // namespace
}  // namespace qz_e2e
