#include "e2e_support.h"

#include <fcntl.h>
#include <pty.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace qz_e2e {

namespace fs = std::filesystem;

bool MakeFifo(const TempTree& tree, const std::string& relative) {
  return mkfifo(tree.Path(relative).c_str(), 0644) == 0;
}

bool MakeChain(const std::string& parent, const std::vector<std::string>& names,
               const std::vector<std::pair<std::string, std::size_t>>& files,
               std::string_view content) {
  int fd = open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  bool ok = fd >= 0;
  for (std::size_t level = 1; ok && level <= names.size(); ++level) {
    const char* name = names[level - 1].c_str();
    const int next = mkdirat(fd, name, 0755) == 0
                         ? openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                         : -1;
    close(fd);
    fd = next;
    ok = fd >= 0;
    for (const auto& [file, at] : files) {
      if (!ok || at != level) continue;
      const int out = openat(fd, file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      ok = out >= 0 &&
           write(out, content.data(), content.size()) == static_cast<ssize_t>(content.size());
      if (out >= 0) close(out);
    }
  }
  if (fd >= 0) close(fd);
  return ok;
}

LaunchOptions In(const TempTree& tree, std::vector<std::string> args, LaunchOptions options) {
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

testing::AssertionResult ReachPrompt(PtyTerminal& t, std::size_t n, int timeoutMs,
                                     std::string_view tail) {
  if (!t.WaitForOutputCount(tail, n, timeoutMs))
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

testing::AssertionResult PromptWithHeader(PtyTerminal& t, std::size_t n,
                                          std::string_view header) {
  testing::AssertionResult reached = ReachPrompt(t, n);
  if (!reached) return reached;
  if (t.Row(0) != header)
    return testing::AssertionFailure() << "header at prompt " << n << ": " << t.Row(0)
                                       << "\nwant: " << header << Describe(t);
  return testing::AssertionSuccess();
}

testing::AssertionResult AnswerAndExit(PtyTerminal& t, std::string_view key) {
  t.SendKeys(key);
  testing::AssertionResult exited = ExitedWithZero(t.WaitExit());
  if (!exited) exited << Describe(t);
  return exited;
}

Walkthrough AnswerEveryPrompt(PtyTerminal& t, std::string_view key, std::size_t answered,
                              int exitTimeoutMs) {
  Walkthrough walk;
  for (std::size_t n = answered + 1; t.WaitForOutputCount(kPromptTail, n); ++n) {
    if (!t.WaitForRawMode()) break;
    walk.headers.push_back(t.Row(0));
    t.SendKeys(key);
  }
  walk.exit = t.WaitExit(exitTimeoutMs);
  return walk;
}

testing::AssertionResult ExitedWithZero(const ExitStatus& s) {
  if (!s.ended) return testing::AssertionFailure() << "still running";
  if (!s.exited) return testing::AssertionFailure() << "killed by signal " << s.signal;
  if (s.code != 0) return testing::AssertionFailure() << "exit code " << s.code;
  return testing::AssertionSuccess();
}

testing::AssertionResult WalksThrough(PtyTerminal& t, const std::vector<std::string>& headers) {
  const Walkthrough walk = AnswerEveryPrompt(t);
  testing::AssertionResult exited = ExitedWithZero(walk.exit);
  if (!exited) return exited << Describe(t);
  if (walk.headers == headers) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "headers shown: " << testing::PrintToString(walk.headers)
                                     << "\nwant: " << testing::PrintToString(headers)
                                     << Describe(t);
}

bool HasRow(PtyTerminal& t, std::string_view text) {
  for (int row = 0; row < t.rows(); ++row)
    if (t.Row(row) == text) return true;
  return false;
}

void ExpectSummary(PtyTerminal& t, std::string_view filesLine, std::string_view occurrencesLine) {
  EXPECT_TRUE(HasRow(t, "Search complete")) << Describe(t);
  EXPECT_TRUE(HasRow(t, filesLine)) << "want: " << filesLine << Describe(t);
  EXPECT_TRUE(HasRow(t, occurrencesLine)) << "want: " << occurrencesLine << Describe(t);
}

void ExpectCounts(PtyTerminal& t, std::string_view files, std::string_view occurrences,
                  std::string_view text) {
  const std::string quoted = "\"" + std::string(text) + "\"";
  ExpectSummary(t, std::string(files) + " found containing the text " + quoted,
                std::string(occurrences) + " of the text " + quoted);
}

namespace {

bool IsIndexed(const VTermColor& c, int index) {
  return VTERM_COLOR_IS_INDEXED(&c) && c.indexed.idx == index;
}

}  // namespace

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

std::string Times(std::string_view piece, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += piece;
  return out;
}

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

#if defined(__x86_64__)
// syscalls_i386.cc
extern const long kI386Write, kI386Pread64, kI386Getdents64, kI386Poll, kI386Ppoll;
#endif

SystemCalls SystemCallsOf([[maybe_unused]] pid_t pid) {
#if defined(__x86_64__)
  unsigned char header[20] = {};
  std::ifstream exe("/proc/" + std::to_string(pid) + "/exe", std::ios::binary);
  exe.read(reinterpret_cast<char*>(header), sizeof header);
  // ELF: class 1 is 32-bit; the machine, little-endian at byte 18, is 3 for x86.
  if (exe && header[4] == 1 && header[18] == 3 && header[19] == 0)
    return {kI386Write, kI386Pread64, kI386Getdents64, kI386Poll, kI386Ppoll};
#endif
#ifdef SYS_poll
  const long poll = SYS_poll;
#else
  const long poll = -1;
#endif
  return {SYS_write, SYS_pread64, SYS_getdents64, poll, SYS_ppoll};
}

bool WaitsInWrite(pid_t pid, int fd, unsigned long& count) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/syscall");
  long number = -1;
  std::string fdArg, buffer, countArg;
  if (!(in >> number >> fdArg >> buffer >> countArg) || number != SystemCallsOf(pid).write)
    return false;
  count = std::stoul(countArg, nullptr, 16);
  return std::stoul(fdArg, nullptr, 16) == static_cast<unsigned long>(fd);
}

testing::AssertionResult WaitUntilItWaitsInWrite(PtyTerminal& t, pid_t pid) {
  if (pid < 0) pid = t.pid();
  unsigned long count;
  if (WaitFor([&] { return WaitsInWrite(pid, STDOUT_FILENO, count); }, 4000))
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << "qz never waited in a write to the terminal";
}

bool WaitsInPoll(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/syscall");
  long number = -1;
  if (!(in >> number)) return false;
  const SystemCalls calls = SystemCallsOf(pid);
  return number == calls.poll || number == calls.ppoll;
}

bool WaitsForAPartner(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/wchan");
  std::string wchan;
  return std::getline(in, wchan) && wchan.find("wait_for_partner") != std::string::npos;
}

int RunProgram(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

bool HaveProgram(const std::string& name) {
  return RunProgram({"sh", "-c", "command -v " + name + " >/dev/null"}) == 0;
}

}  // namespace qz_e2e
