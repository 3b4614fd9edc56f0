// End-to-end tests of signals, job control and limits: the terminal is always put back, a
// signal always ends qz, a suspended qz takes its modes again, and scarce descriptors or a
// non-blocking terminal lose nothing.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace qz_e2e {
namespace {

// qz ended by `sig`: killed by it, with the terminal's modes and colours put back first and
// no summary written.
void ExpectEndedBySignalTerminalBack(PtyTerminal& t, int sig) {
  const ExitStatus s = t.WaitExit();
  EXPECT_TRUE(s.ended);
  EXPECT_FALSE(s.exited);
  EXPECT_EQ(s.signal, sig);
  struct termios mode;
  ASSERT_TRUE(t.GetTermios(mode));
  EXPECT_TRUE(SameModes(FreshTerminalModes(), mode));
  EXPECT_TRUE(ColoursEndReset(t.Transcript()));
  EXPECT_EQ(t.Transcript().find("Search complete"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// Signals

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
    ExpectEndedBySignalTerminalBack(t, sig);
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
    // Ctrl+S: the terminal holds all output from the start
    PtyTerminal t(In(tree, {"*.txt", "needle", "/s"}, {.typeahead = "\x13"}));
    ASSERT_TRUE(t.started()) << t.startError();
    unsigned long count = 0;
    ASSERT_TRUE(WaitFor([&] { return WaitsInWrite(t.pid(), STDOUT_FILENO, count); }))
        << "qz never waited in a write";
    // A clear and a path, not the summary.
    EXPECT_LT(count, 60u);
    t.Signal(sig);
    t.SendKeys("\x11");  // Ctrl+Q: let the output go
    ExpectEndedBySignalTerminalBack(t, sig);
  }
}

TEST(Signals, DeathAtAKeyReadWithRedirectedOutputPutsTheTerminalModesBack) {
  TempTree tree;
  tree.File("a.txt", "needle");
  PtyTerminal t(In(tree, {"*.txt", "needle"}, {.stdoutFile = tree.Path("out.log")}));
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

// Nobody reads the terminal while qz writes a match in colour: the handler's colour reset
// cannot be taken, and the signal must still end qz at once.
TEST(Signals, ATerminalThatDoesNotDrainCannotKeepASignalFromEndingQz) {
  TempTree tree;
  const std::string text(120000, 'q');
  tree.File("a.txt", "start " + text);
  PtyTerminal t(In(tree, {"*.txt", text}));
  ASSERT_TRUE(WaitUntilItWaitsInWrite(t));
  t.Signal(SIGTERM);
  const ExitStatus s = t.WaitExitWithoutReading(1000);
  ASSERT_TRUE(s.ended) << "SIGTERM did not end qz within a second";
  EXPECT_EQ(s.signal, SIGTERM);
  struct termios mode;
  ASSERT_TRUE(t.GetTermios(mode));
  EXPECT_TRUE(SameModes(FreshTerminalModes(), mode));
}

TEST(Signals, EveryFatalSignalPutsTheTerminalBack) {
  struct rlimit noCore = {0, 0};
  setrlimit(RLIMIT_CORE, &noCore);  // the children inherit it
  TempTree tree;
  tree.File("a.txt", "needle");
  // Mapped at the prompt: the file reader's bus-error handler is in place then.
  tree.File("big.txt", "needle" + std::string(5 << 20, '.'));
  for (int sig : {SIGABRT, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF,
                  SIGSEGV, SIGBUS, SIGQUIT, SIGPIPE}) {
    // valgrind takes the fault signals for its own machinery and, once in a while, does not
    // pass one sent from outside on: the plain and sanitizer runs check them.
    if (RunsUnderWrapper() && (sig == SIGSEGV || sig == SIGBUS)) continue;
    for (const char* file : {"a.txt", "big.txt"}) {
      if (sig != SIGBUS && file[0] == 'b') continue;
      SCOPED_TRACE(std::string(strsignal(sig)) + " at " + file);
      PtyTerminal t(In(tree, {file, "needle"}));
      ASSERT_TRUE(ReachPrompt(t, 1));
      t.Signal(sig);
      const ExitStatus s = t.WaitExit();
      ASSERT_TRUE(s.ended);
      // The sanitizers' own handlers end the process with an exit code for some of these.
      EXPECT_FALSE(s.exited && s.code == 0);
      struct termios mode;
      ASSERT_TRUE(t.GetTermios(mode));
      EXPECT_TRUE(SameModes(FreshTerminalModes(), mode));
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Job control

// An interactive shell in the terminal runs qz as a job.
class ShellSession {
 public:
  // `shell`: bash, or dash (without line editing; its prompt is the same).
  explicit ShellSession(const TempTree& tree, const std::string& shell = "bash")
      : t_(ShellOptions(tree, shell)) {}
  PtyTerminal& terminal() { return t_; }

  bool WaitForShellPrompt(std::size_t n) { return t_.WaitForOutputCount(kShellPrompt, n); }

  // At the shell's first prompt, starts qz with `args` and waits for its first prompt.
  testing::AssertionResult StartQzToItsFirstPrompt(const std::vector<std::string>& args) {
    if (!WaitForShellPrompt(1)) return testing::AssertionFailure() << "no shell prompt";
    Type(QzCommand(args));
    return ReachPrompt(t_, 1);
  }
  void Type(const std::string& line) { t_.SendKeys(line + "\r"); }

  // The command line that starts qz with `args`, through the test's wrapper if it has one.
  static std::string QzCommand(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& w : EnvironmentWrapper()) line += w + " ";
    line += QzProgram();
    for (const std::string& a : args) line += " '" + a + "'";
    return line;
  }

  static constexpr std::string_view kShellPrompt = "qzshell$ ";

 private:
  static LaunchOptions ShellOptions(const TempTree& tree, const std::string& shell) {
    LaunchOptions options;
    options.program = "env";
    options.args = {"PS1=qzshell$ ", "HISTFILE=/dev/null", shell, "-i"};
    if (shell == "bash") options.args = {"PS1=qzshell$ ", "HISTFILE=/dev/null", "bash", "--norc", "--noprofile", "-i"};
    options.workingDirectory = tree.path();
    return options;
  }

  PtyTerminal t_;
};

// Whether process `pid` maps a file whose path ends in `suffix`.
bool MapsFile(pid_t pid, const std::string& suffix) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  for (std::string line; std::getline(maps, line);) {
    if (line.size() >= suffix.size() &&
        line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0)
      return true;
  }
  return false;
}

TEST(JobControl, SuspendedAndResumedQzTakesItsModesAgain) {
  if (access("/bin/bash", X_OK) != 0) GTEST_SKIP() << "no bash";
  // Valgrind does not stop a process by a stop signal's default action (the handler's own
  // raise), so the job would never stop.
  if (RunsUnderWrapper()) GTEST_SKIP() << "runs under " << EnvironmentWrapper()[0];
  TempTree tree;
  tree.File("a.txt", "needle needle");
  tree.File("m/huge.txt", "");  // sparse: its scan takes a while
  ASSERT_EQ(truncate(tree.Path("m/huge.txt").c_str(), off_t{512} << 20), 0);
  tree.File("z/c.txt", "needle");
  ShellSession shell(tree);
  PtyTerminal& t = shell.terminal();
  ASSERT_TRUE(shell.WaitForShellPrompt(1)) << Describe(t);
  shell.Type(ShellSession::QzCommand({"*.txt", "needle", "/s"}));

  // Stopped at a prompt, from outside.
  ASSERT_TRUE(ReachPrompt(t, 1));
  const pid_t job = t.ForegroundGroup();
  ASSERT_GT(job, 0);
  kill(-job, SIGTSTP);
  ASSERT_TRUE(shell.WaitForShellPrompt(2)) << Describe(t);
  EXPECT_NE(t.Transcript().find("Stopped"), std::string::npos) << Describe(t);
  shell.Type("fg");
  // The report is drawn again, prompt and all; one key, no Enter, answers it; Ctrl+C is that
  // key, not an interrupt.
  ASSERT_TRUE(ReachPrompt(t, 2));
  t.SendKeys("\x03");
  ASSERT_TRUE(ReachPrompt(t, 3));
  const std::string& raw = t.Transcript();
  EXPECT_NE(raw.find("\u2665", raw.rfind("fg")), std::string::npos) << "no echo of the key";

  // Stopped by Ctrl+Z while it scans the large file. The scan is known by the file's mapping:
  // its path line may never reach the terminal, as output is held back for up to 50 ms and a
  // scan from the page cache may be over sooner.
  t.SendKeys("n");
  ASSERT_TRUE(WaitFor([&] { return MapsFile(job, "/m/huge.txt"); }, 10000, 1)) << Describe(t);
  t.SendKeys("\x1a");
  ASSERT_TRUE(shell.WaitForShellPrompt(3)) << Describe(t);
  shell.Type("fg");
  ASSERT_TRUE(PromptWithHeader(t, 4, "Found in ./z/c.txt - position 0:"));
  t.SendKeys("n");
  ASSERT_TRUE(shell.WaitForShellPrompt(4)) << Describe(t);
  EXPECT_TRUE(HasRow(t, "3 occurrences of the text \"needle\"")) << Describe(t);
  shell.Type("echo \"qz ended with $?\"");
  EXPECT_TRUE(t.WaitForText("qz ended with 0")) << Describe(t);
  shell.Type("exit");
  t.WaitExit();
}

// At a prompt the suspend key suspends while Ctrl+C and Ctrl+\\ stay keys; back in the
// foreground, qz draws the report again, since the shell has written over it.
TEST(JobControl, CtrlZAtAPromptSuspendsAndFgDrawsTheReportAgain) {
  if (access("/bin/bash", X_OK) != 0) GTEST_SKIP() << "no bash";
  if (RunsUnderWrapper()) GTEST_SKIP() << "runs under " << EnvironmentWrapper()[0];
  TempTree tree;
  tree.File("a.txt", "before needle after");
  tree.File("b.txt", "needle needle");
  ShellSession shell(tree);
  PtyTerminal& t = shell.terminal();
  ASSERT_TRUE(shell.StartQzToItsFirstPrompt({"*.txt", "needle"})) << Describe(t);
  t.SendKeys("\x1a");
  ASSERT_TRUE(shell.WaitForShellPrompt(2)) << Describe(t);
  EXPECT_NE(t.Transcript().find("Stopped"), std::string::npos) << Describe(t);
  shell.Type("fg");
  ASSERT_TRUE(PromptWithHeader(t, 2, "Found in ./a.txt - position 7:"));
  EXPECT_EQ(t.Row(2), "before needle after");
  ExpectColours(t, 2, 7, 13, kBlack, kGrey);
  EXPECT_TRUE(HasRow(t, kPromptRow));
  EXPECT_EQ(t.ScreenText().find("fg"), std::string::npos) << "not drawn again" << Describe(t);

  // One key answers the report drawn again; Ctrl+C and Ctrl+\\ are keys.
  t.SendKeys("\x03");
  ASSERT_TRUE(PromptWithHeader(t, 3, "Found in ./b.txt - position 0:"));
  t.SendKeys("\x1c");
  ASSERT_TRUE(PromptWithHeader(t, 4, "Found in ./b.txt - position 7:"));
  t.SendKeys("n");
  ASSERT_TRUE(shell.WaitForShellPrompt(3)) << Describe(t);
  EXPECT_TRUE(HasRow(t, "3 occurrences of the text \"needle\"")) << Describe(t);
  shell.Type("exit");
  t.WaitExit();
}

// The state letter of process `pid` in /proc (R, S, T for stopped, ...); '?' when unknown.
char ProcessState(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const std::size_t end = line.rfind(')');
  return end != std::string::npos && end + 2 < line.size() ? line[end + 2] : '?';
}

bool WaitForState(pid_t pid, char state) {
  return WaitFor([&] { return ProcessState(pid) == state; }, 10000, 10);
}

// Put in the background at a prompt, qz neither draws nor reads: it stops, as a job that wants
// the terminal does, and `fg` brings it back with its modes and the report drawn again.
TEST(JobControl, SentToTheBackgroundAtAPromptItWaitsStoppedForFg) {
  if (access("/bin/bash", X_OK) != 0) GTEST_SKIP() << "no bash";
  if (RunsUnderWrapper()) GTEST_SKIP() << "runs under " << EnvironmentWrapper()[0];
  TempTree tree;
  tree.File("a.txt", "before needle after needle");
  ShellSession shell(tree);
  PtyTerminal& t = shell.terminal();
  ASSERT_TRUE(shell.StartQzToItsFirstPrompt({"*.txt", "needle"})) << Describe(t);
  const pid_t job = t.ForegroundGroup();
  ASSERT_GT(job, 0);

  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    t.SendKeys("\x1a");
    ASSERT_TRUE(shell.WaitForShellPrompt(2 + 2 * round)) << Describe(t);
    shell.Type("bg");
    ASSERT_TRUE(shell.WaitForShellPrompt(3 + 2 * round)) << Describe(t);
    ASSERT_TRUE(WaitForState(job, 'T')) << "qz runs on in the background" << Describe(t);
    t.Pump(100);
    EXPECT_EQ(CountOccurrences(t.Transcript(), kPromptTail), 1u + round)
        << "drawn in the background" << Describe(t);
    shell.Type("fg");
    ASSERT_TRUE(ReachPrompt(t, 2 + round));
    ASSERT_TRUE(t.WaitForRawMode()) << Describe(t);
  }
  // One key, no Enter, answers the report; Ctrl+C is that key.
  t.SendKeys("\x03");
  ASSERT_TRUE(PromptWithHeader(t, 4, "Found in ./a.txt - position 20:")) << Describe(t);
  t.SendKeys("n");
  ASSERT_TRUE(shell.WaitForShellPrompt(6)) << Describe(t);
  EXPECT_TRUE(HasRow(t, "2 occurrences of the text \"needle\"")) << Describe(t);
  shell.Type("exit");
  t.WaitExit();
}

// Stops and continues in a burst at a prompt, as a script or an impatient user sends them,
// end with qz answering one key in its own modes, in the foreground or after `fg`.
TEST(JobControl, ABurstOfStopsAndContinuesLeavesItAnsweringOneKey) {
  if (access("/bin/bash", X_OK) != 0) GTEST_SKIP() << "no bash";
  if (RunsUnderWrapper()) GTEST_SKIP() << "runs under " << EnvironmentWrapper()[0];
  TempTree tree;
  tree.File("a.txt", "needle needle needle needle");
  ShellSession shell(tree);
  PtyTerminal& t = shell.terminal();
  ASSERT_TRUE(shell.StartQzToItsFirstPrompt({"*.txt", "needle"})) << Describe(t);
  const pid_t job = t.ForegroundGroup();
  ASSERT_GT(job, 0);
  std::size_t shellPrompts = 1;
  // Either qz has the terminal and its modes again by itself, or the shell took the terminal
  // when it saw the job stop, and `fg` gives it back (again, where the job stopped once more
  // the moment it was given the terminal).
  const auto bringBack = [&] {
    for (int tries = 0; tries < 20; ++tries) {
      t.Pump(200);
      if (t.WaitForOutputCount(ShellSession::kShellPrompt, shellPrompts + 1, 0)) {
        ++shellPrompts;
        shell.Type("fg");
        continue;
      }
      if (t.ForegroundGroup() == job && ProcessState(job) != 'T' && t.WaitForRawMode(100))
        return true;
    }
    return false;
  };
  // First a stop at the prompt, then a continue from elsewhere while the shell has the
  // terminal: the shell's `fg` then continues nothing, as the job runs already.
  t.SendKeys("\x1a");
  ASSERT_TRUE(shell.WaitForShellPrompt(++shellPrompts)) << Describe(t);
  kill(-job, SIGCONT);
  t.Pump(300);
  shell.Type("fg");
  ASSERT_TRUE(bringBack()) << Describe(t);
  for (int position : {7, 14, 21}) {
    SCOPED_TRACE("after the report before position " + std::to_string(position));
    for (int i = 0; i < 40; ++i) kill(-job, i % 2 == 0 ? SIGTSTP : SIGCONT);
    ASSERT_TRUE(bringBack()) << Describe(t);
    t.Pump(200);
    const std::size_t shown = CountOccurrences(t.Transcript(), kPromptTail);
    t.SendKeys("n");
    ASSERT_TRUE(PromptWithHeader(t, shown + 1,
                                 "Found in ./a.txt - position " + std::to_string(position) + ":"));
  }
  t.SendKeys("\x1b");
  ASSERT_TRUE(shell.WaitForShellPrompt(shellPrompts + 1)) << Describe(t);
  EXPECT_TRUE(HasRow(t, "4 occurrences of the text \"needle\"")) << Describe(t);
  shell.Type("exit");
  t.WaitExit();
}

// A stop leaves the cursor at the start of a line, so that a shell that does not start its job
// message on a fresh line (dash) shows it on a line of its own.
TEST(JobControl, TheShellsStopMessageStandsOnALineOfItsOwn) {
  if (access("/bin/dash", X_OK) != 0) GTEST_SKIP() << "no dash";
  if (RunsUnderWrapper()) GTEST_SKIP() << "runs under " << EnvironmentWrapper()[0];
  TempTree tree;
  tree.File("a.txt", "before needle after");
  ShellSession shell(tree, "dash");
  PtyTerminal& t = shell.terminal();
  ASSERT_TRUE(shell.StartQzToItsFirstPrompt({"*.txt", "needle"})) << Describe(t);
  t.SendKeys("\x1a");
  ASSERT_TRUE(shell.WaitForShellPrompt(2)) << Describe(t);
  ASSERT_TRUE(t.WaitForText("Stopped")) << Describe(t);
  int stopped = 0;
  while (stopped < t.rows() && t.Row(stopped).find("Stopped") == std::string::npos) ++stopped;
  ASSERT_LT(stopped, t.rows()) << Describe(t);
  EXPECT_EQ(t.Row(stopped).rfind("[1]", 0), 0u) << Describe(t);
  EXPECT_EQ(t.Row(stopped - 1), kPromptRow) << Describe(t);
  shell.Type("fg");
  ASSERT_TRUE(ReachPrompt(t, 2));
  t.SendKeys("\x1b");
  ASSERT_TRUE(shell.WaitForShellPrompt(3)) << Describe(t);
  shell.Type("exit");
  t.WaitExit();
}

// ---------------------------------------------------------------------------------------------
// Limits

TEST(Limits, NonBlockingStandardOutputLosesNothing) {
  TempTree tree;  // no files: qz writes the summary, which holds the search text twice
  const std::string text(100000, 'q');
  PtyTerminal t(In(tree, {"*.txt", text}, {.nonBlockingOutput = true}));
  // Nothing is read from the terminal until qz has filled it and waits for it to take more.
  EXPECT_TRUE(WaitFor([&] { return WaitsInPoll(t.pid()); })) << Describe(t);
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
  EXPECT_EQ(CountOccurrences(t.Transcript(), "q"), 200000u);
  EXPECT_NE(t.Transcript().find("occurrences of the text"), std::string::npos);
}

// No standard descriptor is the terminal and only one descriptor is free: at the first prompt
// the large file holds it (mapped), at the second, in a small file read whole, it is free.
TEST(Limits, AKeyboardThatCouldNotBeOpenedIsTriedAgainAtTheNextKeyRead) {
  if (RunsUnderWrapper()) GTEST_SKIP() << "runs under " << EnvironmentWrapper()[0];
  TempTree tree;
  tree.File("big.txt", "needle" + std::string(5 << 20, '.'));
  tree.File("small.txt", "needle");
  LaunchOptions options = In(tree, {"*.txt", "needle"});
  options.stdoutFile = tree.Path("out.log");
  // Descriptor 9 holds the terminal open, as the user's shell would, so that it does not hang
  // up between qz's key reads; it is past the limit, so it takes none of qz's descriptors.
  options.wrapper = {"sh", "-c",
                     "exec 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9<>/dev/tty </dev/null 2>/dev/null; "
                     "ulimit -n 4 && exec \"$@\"",
                     "sh"};
  PtyTerminal t(options);
  std::size_t answered = 0;
  while (answered < 2 && t.WaitForRawMode(3000)) {
    t.Pump(200);
    EXPECT_TRUE(t.Running());
    t.SendKeys("n");
    ++answered;
    ASSERT_TRUE(t.WaitForOutputCount("n", answered)) << Describe(t);  // the echo
  }
  EXPECT_GE(answered, 1u) << "no key read waited";
  EXPECT_TRUE(ExitedWithZero(t.WaitExit())) << Describe(t);
}

}  // namespace
}  // namespace qz_e2e
