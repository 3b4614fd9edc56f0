#include "pty_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef QZ_BINARY
#error "QZ_BINARY must name the qz executable under test"
#endif

namespace qz_e2e {
namespace {

using Clock = std::chrono::steady_clock;

// How long one poll of the child's output may take inside a wait loop.
constexpr int kPollSliceMs = 10;

int RemainingMs(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

void AppendUtf8(std::uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The argument vector for execvp: the wrappers, the program, its arguments. The strings stay
// owned by `options` and `program`.
std::vector<char*> ArgvFor(const LaunchOptions& options, std::string& program) {
  std::vector<char*> argv;
  if (!options.program.empty()) {
    program = options.program;
    argv.push_back(program.data());
    for (const std::string& a : options.args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
  }
  for (const std::string& w : options.wrapper) argv.push_back(const_cast<char*>(w.c_str()));
  for (const std::string& w : EnvironmentWrapper()) argv.push_back(const_cast<char*>(w.c_str()));
  if (!options.reads.empty()) program = QzReadsProgram();
  argv.push_back(program.data());
  if (!options.reads.empty()) argv.push_back(const_cast<char*>(options.reads.c_str()));
  for (const std::string& a : options.args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// In the child, after fork: the signal state a shell would give a new program, the working
// directory, then the program. Never returns.
[[noreturn]] void ExecChild(const char* directory, char* const* argv, char* const* envp) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) signal(sig, SIG_DFL);
  if (chdir(directory) != 0) _exit(126);
  execvpe(argv[0], argv, envp);
  _exit(127);
}

// Whether the environment entry `entry` sets the variable that `setting` (NAME=value) sets.
bool SetsSameName(std::string_view entry, std::string_view setting) {
  const std::size_t name = setting.find('=') + 1;
  return entry.substr(0, name) == setting.substr(0, name);
}

// The child's environment: the tests' own, with the locale `options` names in place of theirs
// and the entries of options.environment in place of any of the same name.
std::vector<std::string> EnvironmentFor(const LaunchOptions& options) {
  std::vector<std::string> own = {"LC_ALL=" + options.locale};
  if (!options.term.empty()) own.push_back("TERM=" + options.term);
  own.insert(own.end(), options.environment.begin(), options.environment.end());
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string_view entry(*e);
    const bool replaced = std::any_of(own.begin(), own.end(), [&](const std::string& setting) {
      return SetsSameName(entry, setting);
    });
    // The terminal and the colours are the test's to choose, whatever the tests run under.
    if (replaced || entry.starts_with("LC_CTYPE=") || entry.starts_with("LANG=") ||
        entry.starts_with("TERM=") || entry.starts_with("NO_COLOR="))
      continue;
    env.emplace_back(entry);
  }
  env.insert(env.end(), own.begin(), own.end());
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

// What an 8-bit terminal makes of `bytes`, as the UTF-8 terminal libvterm emulates would take
// it: a C1 control as its 7-bit form (ESC and a letter), a byte from 0xA0 as its Latin-1
// character.
std::string AsEightBitTerminalSees(std::string_view bytes) {
  std::string out;
  for (char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (b < 0x80) {
      out += ch;
    } else if (b < 0xA0) {
      out += '\x1b';
      out += static_cast<char>(b - 0x40);
    } else {
      AppendUtf8(b, out);
    }
  }
  return out;
}

}  // namespace

const std::vector<std::string>& EnvironmentWrapper() {
  static const std::vector<std::string> words = [] {
    std::vector<std::string> split;
    const char* value = std::getenv("QZ_E2E_WRAPPER");
    std::string word;
    for (const char* p = value ? value : ""; ; ++p) {
      if (*p == ' ' || *p == '\0') {
        if (!word.empty()) split.push_back(word);
        word.clear();
        if (*p == '\0') break;
      } else {
        word += *p;
      }
    }
    return split;
  }();
  return words;
}

bool RunsUnderWrapper() { return !EnvironmentWrapper().empty(); }

namespace {
std::string ProgramFrom(const char* variable, const char* built) {
  const char* value = std::getenv(variable);
  return value && *value ? value : built;
}
}  // namespace

const std::string& QzProgram() {
  static const std::string program = ProgramFrom("QZ_E2E_PROGRAM", QZ_BINARY);
  return program;
}

const std::string& QzReadsProgram() {
  static const std::string program = ProgramFrom("QZ_E2E_READS_PROGRAM", QZ_READS_BINARY);
  return program;
}

int ScaledTimeout(int timeoutMs) {
  static const int factor = [] {
    const char* value = std::getenv("QZ_E2E_TIMEOUT_SCALE");
    const int given = value ? std::atoi(value) : 0;
    if (given > 0) return given;
    return RunsUnderWrapper() ? 10 : 1;
  }();
  return timeoutMs * factor;
}

PtyTerminal::PtyTerminal(const LaunchOptions& options)
    : rows_(options.rows), cols_(options.cols) {
  eightBit_ = options.eightBitTerminal;
  vt_ = vterm_new(rows_, cols_);
  vterm_set_utf8(vt_, 1);
  screen_ = vterm_obtain_screen(vt_);
  static const VTermScreenCallbacks callbacks = [] {
    VTermScreenCallbacks c = {};
    c.sb_pushline = [](int cols, const VTermScreenCell* cells, void* user) {
      std::string row;
      for (int col = 0; col < cols; ++col) {
        if (cells[col].chars[0] == 0) row += ' ';
        for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cells[col].chars[i] != 0; ++i)
          AppendUtf8(cells[col].chars[i], row);
      }
      row.erase(row.find_last_not_of(' ') + 1);
      static_cast<PtyTerminal*>(user)->scrollback_.push_back(std::move(row));
      return 1;
    };
    return c;
  }();
  vterm_screen_set_callbacks(screen_, &callbacks, this);
  vterm_screen_reset(screen_, 1);
  if (options.connection == Connection::kPipesOnly)
    StartOnPipes(options);
  else
    StartOnTerminal(options);
}

PtyTerminal::~PtyTerminal() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (masterFd_ >= 0) close(masterFd_);
  if (vt_) vterm_free(vt_);
}

void PtyTerminal::StartOnTerminal(const LaunchOptions& options) {
  std::string program = QzProgram();
  std::vector<char*> argv = ArgvFor(options, program);
  std::vector<std::string> environment = EnvironmentFor(options);
  std::vector<char*> envp = Pointers(environment);
  struct winsize ws = {};
  if (!options.sizeUnknown) {
    ws.ws_row = static_cast<unsigned short>(rows_);
    ws.ws_col = static_cast<unsigned short>(cols_);
  }

  int outFd = -1;
  if (!options.stdoutFile.empty()) {
    outFd = open(options.stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (outFd < 0) {
      startError_ = "cannot create " + options.stdoutFile + ": " + std::strerror(errno);
      return;
    }
  }

  if (options.connection == Connection::kControllingTerminal) {
    int ready[2] = {-1, -1};  // the parent closes its end once the typeahead is queued
    if (!options.typeahead.empty() && pipe2(ready, O_CLOEXEC) != 0) {
      startError_ = std::string("pipe: ") + std::strerror(errno);
      if (outFd >= 0) close(outFd);
      return;
    }
    pid_ = forkpty(&masterFd_, nullptr, nullptr, &ws);
    if (pid_ == 0) {
      if (ready[0] >= 0) {
        close(ready[1]);
        char ignored;
        while (read(ready[0], &ignored, 1) < 0 && errno == EINTR) {
        }
      }
      if (outFd >= 0) dup2(outFd, STDOUT_FILENO);
      if (options.nonBlockingOutput)
        fcntl(STDERR_FILENO, F_SETFL, fcntl(STDERR_FILENO, F_GETFL) | O_NONBLOCK);
      ExecChild(options.workingDirectory.c_str(), argv.data(), envp.data());
    }
    if (pid_ < 0) startError_ = std::string("forkpty: ") + std::strerror(errno);
    if (ready[0] >= 0) {
      close(ready[0]);
      if (pid_ > 0) SendKeys(options.typeahead);
      close(ready[1]);
    }
  } else {
    int slaveFd = -1;
    if (openpty(&masterFd_, &slaveFd, nullptr, nullptr, &ws) != 0) {
      startError_ = std::string("openpty: ") + std::strerror(errno);
      masterFd_ = -1;
    } else {
      pid_ = fork();
      if (pid_ == 0) {
        // A new session with no controlling terminal: the slave is only dup'ed, never opened,
        // and TIOCSCTTY is never asked for, so /dev/tty cannot be opened.
        setsid();
        dup2(slaveFd, STDIN_FILENO);
        dup2(slaveFd, STDOUT_FILENO);
        dup2(slaveFd, STDERR_FILENO);
        if (outFd >= 0) dup2(outFd, STDOUT_FILENO);
        close(slaveFd);
        close(masterFd_);
        ExecChild(options.workingDirectory.c_str(), argv.data(), envp.data());
      }
      if (pid_ < 0) startError_ = std::string("fork: ") + std::strerror(errno);
      close(slaveFd);
    }
  }
  if (outFd >= 0) close(outFd);
  if (masterFd_ >= 0) fcntl(masterFd_, F_SETFD, FD_CLOEXEC);
}

void PtyTerminal::StartOnPipes(const LaunchOptions& options) {
  std::string program = QzProgram();
  std::vector<char*> argv = ArgvFor(options, program);
  std::vector<std::string> environment = EnvironmentFor(options);
  std::vector<char*> envp = Pointers(environment);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    startError_ = std::string("pipe: ") + std::strerror(errno);
    return;
  }
  pid_ = fork();
  if (pid_ == 0) {
    setsid();
    const int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, STDIN_FILENO);
    dup2(fds[1], STDOUT_FILENO);
    dup2(fds[1], STDERR_FILENO);
    ExecChild(options.workingDirectory.c_str(), argv.data(), envp.data());
  }
  if (pid_ < 0) startError_ = std::string("fork: ") + std::strerror(errno);
  close(fds[1]);
  masterFd_ = fds[0];
}

bool PtyTerminal::ReadOnce(int timeoutMs) {
  if (masterFd_ < 0) inputClosed_ = true;
  if (inputClosed_) return false;
  struct pollfd p = {masterFd_, POLLIN, 0};
  int ready;
  do ready = poll(&p, 1, timeoutMs);
  while (ready < 0 && errno == EINTR);
  if (ready <= 0) return false;
  char buf[4096];
  ssize_t n;
  do n = read(masterFd_, buf, sizeof buf);
  while (n < 0 && errno == EINTR);
  if (n <= 0) {
    // EOF on the pipe, or EIO on the terminal once every slave descriptor is closed.
    inputClosed_ = true;
    return false;
  }
  transcript_.append(buf, static_cast<std::size_t>(n));
  if (eightBit_) {
    const std::string seen = AsEightBitTerminalSees({buf, static_cast<std::size_t>(n)});
    vterm_input_write(vt_, seen.data(), seen.size());
  } else {
    vterm_input_write(vt_, buf, static_cast<std::size_t>(n));
  }
  return true;
}

void PtyTerminal::Pump(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!inputClosed_) {
    const bool got = ReadOnce(RemainingMs(deadline));
    if (!got && RemainingMs(deadline) == 0) break;
  }
}

bool PtyTerminal::WaitForText(std::string_view text, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ScaledTimeout(timeoutMs));
  for (;;) {
    if (ScreenText().find(text) != std::string::npos) return true;
    if (inputClosed_ || RemainingMs(deadline) == 0) return false;
    ReadOnce(std::min(kPollSliceMs, RemainingMs(deadline)));
  }
}

bool PtyTerminal::WaitForOutputCount(std::string_view text, std::size_t count, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ScaledTimeout(timeoutMs));
  for (;;) {
    if (CountOccurrences(transcript_, text) >= count) return true;
    if (inputClosed_ || RemainingMs(deadline) == 0) return false;
    // One read at a time, so that the wait ends no more than one read past the text.
    ReadOnce(std::min(kPollSliceMs, RemainingMs(deadline)));
  }
}

bool PtyTerminal::WaitForRawMode(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ScaledTimeout(timeoutMs));
  for (;;) {
    struct termios mode;
    if (!GetTermios(mode)) return false;
    // The key read switches the interrupt key off and, once the prompt is out, flow control.
    if (!(mode.c_lflag & ICANON) && !(mode.c_iflag & IXON) &&
        (!(mode.c_lflag & ISIG) || mode.c_cc[VINTR] == _POSIX_VDISABLE))
      return true;
    if (!Running() || RemainingMs(deadline) == 0) return false;
    Pump(std::min(2, RemainingMs(deadline)));
  }
}

void PtyTerminal::SendKeys(std::string_view bytes) {
  if (masterFd_ < 0) return;
  while (!bytes.empty()) {
    const ssize_t n = write(masterFd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

bool PtyTerminal::Resize(int rows, int cols) {
  struct winsize ws = {};
  ws.ws_row = static_cast<unsigned short>(rows);
  ws.ws_col = static_cast<unsigned short>(cols);
  if (masterFd_ < 0 || ioctl(masterFd_, TIOCSWINSZ, &ws) != 0) return false;
  rows_ = rows;
  cols_ = cols;
  vterm_set_size(vt_, rows, cols);
  return true;
}

void PtyTerminal::Signal(int sig) {
  if (pid_ > 0 && !reaped_) kill(pid_, sig);
}

bool PtyTerminal::Running() {
  if (pid_ <= 0) return false;
  if (reaped_) return false;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    reaped_ = true;
    waitStatus_ = status;
    return false;
  }
  return r == 0;
}

ExitStatus PtyTerminal::EndedStatus() const {
  ExitStatus result;
  result.ended = true;
  if (WIFEXITED(waitStatus_)) {
    result.exited = true;
    result.code = WEXITSTATUS(waitStatus_);
  } else if (WIFSIGNALED(waitStatus_)) {
    result.signal = WTERMSIG(waitStatus_);
  }
  return result;
}

ExitStatus PtyTerminal::WaitExit(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ScaledTimeout(timeoutMs));
  ExitStatus result;
  while (Running()) {
    if (RemainingMs(deadline) == 0) return result;
    Pump(std::min(kPollSliceMs, RemainingMs(deadline)));
  }
  if (!reaped_) return result;
  // Everything the child wrote before it ended is still queued; the end of the input comes
  // after it.
  while (!inputClosed_ && RemainingMs(deadline) > 0)
    ReadOnce(std::min(kPollSliceMs, RemainingMs(deadline)));
  return EndedStatus();
}

ExitStatus PtyTerminal::WaitExitWithoutReading(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ScaledTimeout(timeoutMs));
  ExitStatus result;
  while (Running()) {
    if (RemainingMs(deadline) == 0) return result;
    usleep(5000);
  }
  if (!reaped_) return result;
  return EndedStatus();
}

pid_t PtyTerminal::ForegroundGroup() const { return masterFd_ >= 0 ? tcgetpgrp(masterFd_) : -1; }

VTermScreenCell PtyTerminal::Cell(int row, int col) {
  VTermScreenCell cell = {};
  VTermPos pos = {row, col};
  vterm_screen_get_cell(screen_, pos, &cell);
  return cell;
}

std::string PtyTerminal::Row(int row) {
  std::string text;
  for (int col = 0; col < cols_;) {
    const VTermScreenCell cell = Cell(row, col);
    if (cell.chars[0] == 0) {
      text += ' ';
    } else {
      for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i] != 0; ++i)
        AppendUtf8(cell.chars[i], text);
    }
    col += cell.width > 0 ? cell.width : 1;
  }
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

std::string PtyTerminal::ScreenText() {
  std::string text;
  for (int row = 0; row < rows_; ++row) {
    if (row > 0) text += '\n';
    text += Row(row);
  }
  return text;
}

bool PtyTerminal::GetTermios(struct termios& mode) const {
  // On the controlling side this reports the modes of the child's side.
  return masterFd_ >= 0 && tcgetattr(masterFd_, &mode) == 0;
}

bool PtyTerminal::SetTermios(const struct termios& mode) const {
  return masterFd_ >= 0 && tcsetattr(masterFd_, TCSANOW, &mode) == 0;
}

std::string Printable(std::string_view bytes) {
  std::string out;
  for (char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (b == '\n') {
      out += "\\n\n";
    } else if (b < 0x20 || b >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    } else {
      out += ch;
    }
  }
  return out;
}

std::size_t CountOccurrences(std::string_view haystack, std::string_view needle) {
  std::size_t count = 0;
  for (std::size_t at = haystack.find(needle); at != std::string_view::npos;
       at = haystack.find(needle, at + needle.size()))
    ++count;
  return count;
}

}  // namespace qz_e2e
