// End-to-end tests of qz on real terminals: what the screen shows while the walk writes
// nothing, wrapping by cells, names and text that must not act, the terminal's modes, job
// control, signals and descriptor limits.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pty_terminal.h"

namespace qz_e2e {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPromptTail = "to continue: ";
constexpr std::string_view kClear = "\x1b[H\x1b[2J\x1b[3J";

class Tree {
 public:
  // Under `base`: /dev/shm for trees of many directories, which other file systems may take
  // a minute to remove.
  explicit Tree(const std::string& base = "/tmp") {
    std::string name = (access(base.c_str(), W_OK) == 0 ? base : "/tmp") + "/qz-term-XXXXXX";
    if (mkdtemp(name.data())) root_ = name;
  }
  ~Tree() {
    std::error_code ignored;
    if (!root_.empty()) fs::remove_all(root_, ignored);
  }
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;

  const std::string& path() const { return root_; }
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }
  void File(const std::string& relative, std::string_view content) const {
    fs::create_directories(fs::path(Path(relative)).parent_path());
    std::ofstream out(Path(relative), std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }

 private:
  std::string root_;
};

LaunchOptions In(const Tree& tree, std::vector<std::string> args) {
  LaunchOptions options;
  options.args = std::move(args);
  options.workingDirectory = tree.path();
  return options;
}

std::string Describe(PtyTerminal& t) {
  const std::string& raw = t.Transcript();
  const std::size_t tail = raw.size() > 800 ? raw.size() - 800 : 0;
  return "\n--- screen ---\n" + t.ScreenText() + "\n--- output (end) ---\n" +
         Printable(std::string_view(raw).substr(tail)) + "\n";
}

testing::AssertionResult ReachPrompt(PtyTerminal& t, std::size_t n) {
  if (!t.WaitForOutputCount(kPromptTail, n))
    return testing::AssertionFailure() << "prompt " << n << " never came" << Describe(t);
  if (!t.WaitForRawMode())
    return testing::AssertionFailure() << "no key read behind prompt " << n << Describe(t);
  return testing::AssertionSuccess();
}

testing::AssertionResult ExitedWithZero(const ExitStatus& s) {
  if (s.ended && s.exited && s.code == 0) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "ended " << s.ended << " exited " << s.exited << " code "
                                     << s.code << " signal " << s.signal;
}

bool HasRow(PtyTerminal& t, std::string_view row) {
  for (int r = 0; r < t.rows(); ++r)
    if (t.Row(r) == row) return true;
  return false;
}

std::size_t Count(std::string_view haystack, std::string_view needle) {
  std::size_t n = 0;
  for (std::size_t at = haystack.find(needle); at != std::string_view::npos;
       at = haystack.find(needle, at + needle.size()))
    ++n;
  return n;
}

std::string Times(std::string_view piece, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += piece;
  return out;
}

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
  if (want.c_iflag == got.c_iflag && want.c_oflag == got.c_oflag &&
      want.c_cflag == got.c_cflag && want.c_lflag == got.c_lflag &&
      std::equal(std::begin(want.c_cc), std::end(want.c_cc), std::begin(got.c_cc)))
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << std::hex << "iflag " << got.c_iflag << " lflag "
                                     << got.c_lflag << ", want " << want.c_iflag << " "
                                     << want.c_lflag;
}

// Whether `pid` waits in a write() to `fd`.
bool WaitsInWrite(pid_t pid, int fd) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/syscall");
  long number = -1;
  std::string fdArg;
  if (!(in >> number >> fdArg) || number != SYS_write) return false;
  return std::stoul(fdArg, nullptr, 16) == static_cast<unsigned long>(fd);
}

// Waits until `pid` (qz, by default the terminal's child) waits in a write to its standard
// output.
testing::AssertionResult WaitUntilItWaitsInWrite(PtyTerminal& t, pid_t pid = -1) {
  if (pid < 0) pid = t.pid();
  for (int i = 0; i < ScaledTimeout(4000) / 5 && kill(pid, 0) == 0; ++i) {
    if (WaitsInWrite(pid, STDOUT_FILENO)) return testing::AssertionSuccess();
    usleep(5000);
  }
  return testing::AssertionFailure() << "qz never waited in a write to the terminal";
}

// ---------------------------------------------------------------------------------------------
// The screen

// After the key, the walk goes through thousands of empty directories and writes nothing until
// the summary: the clear must be on the screen long before that.
TEST(Screen, TheClearAfterAKeyShowsWhileTheWalkWritesNothing) {
  Tree tree("/dev/shm");
  tree.File("a.txt", "needle");
  for (int i = 0; i < 30000; ++i) fs::create_directory(tree.Path("d" + std::to_string(100000 + i)));
  PtyTerminal t(In(tree, {"*.txt", "needle", "/s"}));
  ASSERT_TRUE(ReachPrompt(t, 1));
  const std::size_t clears = Count(t.Transcript(), kClear);
  t.SendKeys("n");
  ASSERT_TRUE(t.WaitForOutputCount(kClear, clears + 1, 20000)) << Describe(t);
  EXPECT_EQ(t.Transcript().find("Search complete"), std::string::npos)
      << "the clear came only with the summary" << Describe(t);
  EXPECT_EQ(t.ScreenText().find_first_not_of('\n'), std::string::npos) << Describe(t);
  EXPECT_TRUE(ExitedWithZero(t.WaitExit(20000)));
  EXPECT_TRUE(HasRow(t, "1 occurrence of the text \"needle\"")) << Describe(t);
}

TEST(Screen, ContextWrapsByCellsAndNeverInsideACharacter) {
  const std::string accent = "\u00E9";  // one cell, two bytes
  const std::string wide = "\u4E2D";    // two cells, three bytes
  const std::string emoji = "\u231A\u26A1\u2705\U0001F004";  // two cells each
  Tree tree;
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
  t.SendKeys("n");
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
}

TEST(Screen, ANameCannotForgeAHeaderOrMoveTheCursor) {
  Tree tree;
  tree.File("x\rFound in /a.txt", "needle");
  tree.File("t\tb\bn\nl/c.txt", "needle");
  PtyTerminal t(In(tree, {"*.txt", "needle", "/s"}));
  ASSERT_TRUE(ReachPrompt(t, 1));
  EXPECT_EQ(t.Row(0), "Found in ./t\u25CBb\u25D8n\u25D9l/c.txt - position 0:") << Describe(t);
  t.SendKeys("n");
  ASSERT_TRUE(ReachPrompt(t, 2));
  EXPECT_EQ(t.Row(0), "Found in ./x\u266AFound in /a.txt - position 0:") << Describe(t);
  t.SendKeys("n");
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
}

TEST(Screen, InvisibleReorderingAndSeparatorsShowAsReplacements) {
  Tree tree;
  // RLO in the name; LRI, PDI, RLM and LINE SEPARATOR in the content; ALM in the search text.
  tree.File("rtl\u202Etxt.txt", "abc \u2066ne\u061Cedle\u2069 x\u200Fy\u2028z");
  PtyTerminal t(In(tree, {"*.txt", "ne\u061Cedle"}));
  ASSERT_TRUE(ReachPrompt(t, 1));
  EXPECT_EQ(t.Row(0), "Found in ./rtl\uFFFDtxt.txt - position 7:") << Describe(t);
  EXPECT_EQ(t.Row(2), "abc \uFFFDne\uFFFDedle\uFFFD x\uFFFDy\uFFFDz");
  t.SendKeys("n");
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
  EXPECT_TRUE(HasRow(t, "1 occurrence of the text \"ne\uFFFDedle\"")) << Describe(t);
}

// ---------------------------------------------------------------------------------------------
// Modes

// Output is held (Ctrl+S) so that qz waits in a write; the keys typed then must not be echoed
// by the terminal. They answer the prompt if they came after it was written, and are dropped
// before it otherwise; then another key answers it.
TEST(Modes, KeysTypedWhileQzWorksAreNotEchoed) {
  Tree tree;
  tree.File("a.txt", "needle");
  LaunchOptions options = In(tree, {"*.txt", "needle"});
  options.typeahead = "\x13";
  PtyTerminal t(options);
  ASSERT_TRUE(WaitUntilItWaitsInWrite(t));
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

// ---------------------------------------------------------------------------------------------
// Job control

// An interactive shell in the terminal runs qz as a job.
class ShellSession {
 public:
  explicit ShellSession(const Tree& tree) : t_(ShellOptions(tree)) {}
  PtyTerminal& terminal() { return t_; }

  bool WaitForShellPrompt(std::size_t n) { return t_.WaitForOutputCount(kShellPrompt, n); }
  void Type(const std::string& line) { t_.SendKeys(line + "\r"); }

  // The command line that starts qz with `args`, through the test's wrapper if it has one.
  static std::string QzCommand(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& w : EnvironmentWrapper()) line += w + " ";
    line += QZ_BINARY;
    for (const std::string& a : args) line += " '" + a + "'";
    return line;
  }

  static constexpr std::string_view kShellPrompt = "qzshell$ ";

 private:
  static LaunchOptions ShellOptions(const Tree& tree) {
    LaunchOptions options;
    options.program = "env";
    options.args = {"PS1=qzshell$ ", "HISTFILE=/dev/null", "bash", "--norc", "--noprofile", "-i"};
    options.workingDirectory = tree.path();
    return options;
  }

  PtyTerminal t_;
};

TEST(JobControl, SuspendedAndResumedQzTakesItsModesAgain) {
  if (access("/bin/bash", X_OK) != 0) GTEST_SKIP() << "no bash";
  // Valgrind does not stop a process by a stop signal's default action (the handler's own
  // raise), so the job would never stop.
  if (RunsUnderWrapper()) GTEST_SKIP() << "runs under " << EnvironmentWrapper()[0];
  Tree tree;
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
  // One key, no Enter, answers the prompt; Ctrl+C is that key, not an interrupt.
  ASSERT_TRUE(t.WaitForRawMode()) << Describe(t);
  t.SendKeys("\x03");
  ASSERT_TRUE(ReachPrompt(t, 2));
  const std::string& raw = t.Transcript();
  EXPECT_NE(raw.find("\u2665", raw.rfind("fg")), std::string::npos) << "no echo of the key";

  // Stopped by Ctrl+Z while it scans the large file.
  t.SendKeys("n");
  ASSERT_TRUE(t.WaitForText("./m/huge.txt")) << Describe(t);
  t.SendKeys("\x1a");
  ASSERT_TRUE(shell.WaitForShellPrompt(3)) << Describe(t);
  shell.Type("fg");
  ASSERT_TRUE(ReachPrompt(t, 3));
  EXPECT_EQ(t.Row(0), "Found in ./z/c.txt - position 0:");
  t.SendKeys("n");
  ASSERT_TRUE(shell.WaitForShellPrompt(4)) << Describe(t);
  EXPECT_TRUE(HasRow(t, "3 occurrences of the text \"needle\"")) << Describe(t);
  shell.Type("echo \"qz ended with $?\"");
  EXPECT_TRUE(t.WaitForText("qz ended with 0")) << Describe(t);
  shell.Type("exit");
  t.WaitExit();
}

// ---------------------------------------------------------------------------------------------
// Signals

// Nobody reads the terminal while qz writes a match in colour: the handler's colour reset
// cannot be taken, and the signal must still end qz at once.
TEST(Signals, ATerminalThatDoesNotDrainCannotKeepASignalFromEndingQz) {
  Tree tree;
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
  Tree tree;
  tree.File("a.txt", "needle");
  // Mapped at the prompt: the file reader's bus-error handler is in place then.
  tree.File("big.txt", "needle" + std::string(5 << 20, '.'));
  for (int sig : {SIGABRT, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF,
                  SIGSEGV, SIGBUS, SIGQUIT, SIGPIPE}) {
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
// Limits

TEST(Limits, NonBlockingStandardOutputLosesNothing) {
  Tree tree;  // no files: qz writes the summary, which holds the search text twice
  const std::string text(100000, 'q');
  LaunchOptions options = In(tree, {"*.txt", text});
  options.nonBlockingOutput = true;
  PtyTerminal t(options);
  usleep(300000);  // let the terminal fill up
  EXPECT_TRUE(ExitedWithZero(t.WaitExit()));
  EXPECT_EQ(Count(t.Transcript(), "q"), 200000u);
  EXPECT_NE(t.Transcript().find("occurrences of the text"), std::string::npos);
}

// No standard descriptor is the terminal and only one descriptor is free: at the first prompt
// the large file holds it (mapped), at the second, in a small file read whole, it is free.
TEST(Limits, AKeyboardThatCouldNotBeOpenedIsTriedAgainAtTheNextKeyRead) {
  if (RunsUnderWrapper()) GTEST_SKIP() << "runs under " << EnvironmentWrapper()[0];
  Tree tree;
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
