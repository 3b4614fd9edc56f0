// The console's modes on a POSIX terminal, and the signal handlers that put the terminal back.
// With terminal_screen-posix.cc and terminal_keys-posix.cc, the only files that know about
// termios and /dev/tty.
//
// Modes: from BeginTerminal to EndTerminal the keyboard has echo and line input off with
// interrupt keys on ("quiet"); during a key read the interrupt and quit keys are keys too
// ("raw"), while the suspend key still suspends. Whoever ends or stops the process puts the
// mode found at the start back: EndTerminal, the fatal signal handler, the job-control stop
// handler (which takes the modes again when the process is continued in the foreground).
#include "console/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "console/terminal-posix.h"

namespace posix_terminal {

volatile std::sig_atomic_t coloursMayBeSet = 0;
volatile std::sig_atomic_t coloursReset = 0;
volatile std::sig_atomic_t widthChanged = 1;
volatile std::sig_atomic_t resumedInKeyRead = 0;
char terminalPath[256] = "";
const char* volatile resetSequence = kPlainSgr;
volatile std::sig_atomic_t cursorPastLineStart = 0;

namespace {

// How long a signal handler waits for the terminal to take the colour reset before it gives up.
constexpr long kHandlerWriteMs = 250;
// How often a wait for the foreground looks again where the job cannot be stopped.
constexpr int kForegroundCheckMs = 200;

// Signals whose default action ends the process; each puts the terminal back first.
constexpr int kFatalSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
                                 SIGFPE,  SIGUSR1, SIGSEGV, SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
                                 SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS};
constexpr int kStopSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};

// The rest of what the signal handlers need (the shared part is in terminal-posix.h). Outside
// them it is changed only with the handled signals blocked (see HandlersHeldOff).
// One of the standard descriptors when it is the controlling terminal, else -1: the terminal
// is then opened for each task (see TerminalHandle), and by the handlers for theirs.
volatile std::sig_atomic_t standardTerminalFd = -1;
volatile std::sig_atomic_t sessionActive = 0;  // between BeginTerminal and EndTerminal
volatile std::sig_atomic_t modesTaken = 0;     // our modes are set; savedMode holds the earlier
// Where a key read stands, which says the mode wanted. Kept as a std::sig_atomic_t, since the
// handlers read it.
enum KeyReadStage : std::sig_atomic_t {
  kNoKeyRead = 0,      // the quiet mode is wanted
  kPromptGoingOut = 1,  // the raw mode, with flow control kept while the prompt's last bytes
                        // go out (Ctrl+S may still hold them)
  kAwaitingKey = 2,     // the raw mode whole, while waiting for the key
};
volatile std::sig_atomic_t inKeyRead = kNoKeyRead;
struct termios savedMode, quietMode, rawMode, rawWritingMode;
struct sigaction previousAction[NSIG];

sigset_t HandledSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kFatalSignals) sigaddset(&set, sig);
  for (int sig : kStopSignals) sigaddset(&set, sig);
  sigaddset(&set, SIGCONT);
  return set;
}

// Everything from here to the handlers is async-signal-safe.

bool InForeground(int fd) {
  const pid_t group = tcgetpgrp(fd);
  return group > 0 && group == getpgrp();
}

// The mode wanted now, once the modes are taken.
const struct termios& WantedMode() {
  switch (inKeyRead) {
    case kAwaitingKey:
      return rawMode;
    case kPromptGoingOut:
      return rawWritingMode;
    default:
      return quietMode;
  }
}

// A descriptor on the controlling terminal inside a handler: the standard one, or a fresh open.
int HandlerTerminal() {
  const int fd = standardTerminalFd;
  return fd >= 0 ? fd : open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
}

void CloseHandlerTerminal(int fd) {
  if (fd >= 0 && fd != standardTerminalFd) close(fd);
}

// Sets the quiet or the raw mode on the terminal `fd`, as wanted now; the first time (and again
// after the modes were given back) the mode found is saved. Only in the foreground: the modes
// of a terminal another job has belong to that job.
void TakeModes(int fd) {
  // With the job-control signals held off, a change from the background would not stop the
  // process but go through, and change the modes of the job in the foreground.
  if (fd < 0 || !InForeground(fd)) return;
  if (!modesTaken) {
    if (tcgetattr(fd, &savedMode) != 0) return;
    quietMode = savedMode;
    quietMode.c_lflag &= ~(ICANON | ECHO);
    quietMode.c_cc[VMIN] = 1;
    quietMode.c_cc[VTIME] = 0;
    // Ctrl+C and Ctrl+\ become keys; the suspend key keeps working, so that a user can leave a
    // prompt for the shell and come back with `fg`.
    rawWritingMode = quietMode;
    rawWritingMode.c_iflag &= ~(ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | PARMRK);
    rawWritingMode.c_lflag &= ~IEXTEN;
    rawWritingMode.c_cc[VINTR] = _POSIX_VDISABLE;
    rawWritingMode.c_cc[VQUIT] = _POSIX_VDISABLE;
    rawMode = rawWritingMode;
    rawMode.c_iflag &= ~IXON;
    modesTaken = 1;
  }
  tcsetattr(fd, TCSANOW, &WantedMode());
}

void GiveModesBack(int fd) {
  if (!modesTaken) return;
  modesTaken = 0;
  if (fd >= 0 && InForeground(fd)) tcsetattr(fd, TCSANOW, &savedMode);
}

long long MonotonicMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Writes the colour reset, and with `endLine` the end of a line the cursor stands in, through a
// descriptor that never blocks, opened for the purpose: the process's own standard output may be
// stuck in a write to a terminal that does not drain, and may belong to others who rely on its
// blocking mode. Gives up after kHandlerWriteMs.
void ResetColoursFromHandler(bool endLine = false) {
  const char* reset = resetSequence;
  const bool resetting = coloursMayBeSet && reset[0] != '\0';
  endLine = endLine && cursorPastLineStart;
  if ((!resetting && !endLine) || terminalPath[0] == '\0') return;
  const int fd = open(terminalPath, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  if (endLine && !InForeground(fd)) {
    close(fd);  // stopping in the background: the terminal is another job's
    return;
  }
  char bytes[64];
  std::size_t left = 0;
  for (const char* from : {resetting ? reset : "", endLine ? "\r\n" : ""})
    for (; *from != '\0' && left < sizeof bytes; ++from) bytes[left++] = *from;
  const char* next = bytes;
  const long long deadline = MonotonicMs() + kHandlerWriteMs;
  while (left > 0) {
    const ssize_t n = RetryOnInterrupt([&] { return write(fd, next, left); });
    if (n > 0) {
      next += n;
      left -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
    const long long wait = deadline - MonotonicMs();
    if (wait <= 0) break;
    struct pollfd p = {fd, POLLOUT, 0};
    if (poll(&p, 1, static_cast<int>(wait)) < 0 && errno != EINTR) break;
  }
  close(fd);
  if (left == 0) {
    if (resetting) {
      coloursMayBeSet = 0;
      coloursReset = 1;
    }
    if (endLine) cursorPastLineStart = 0;
  }
}

void OnFatalSignal(int sig) {
  if (modesTaken) {
    const int fd = HandlerTerminal();
    GiveModesBack(fd);
    CloseHandlerTerminal(fd);
  }
  ResetColoursFromHandler();
  // The action in place before ours (the default, or a handler of the sanitizers) takes the
  // signal once this handler returns.
  sigaction(sig, &previousAction[sig], nullptr);
  raise(sig);
}

void OnStopSignal(int sig) {
  const int savedErrno = errno;
  const int fd = modesTaken ? HandlerTerminal() : -1;
  GiveModesBack(fd);
  CloseHandlerTerminal(fd);
  ResetColoursFromHandler(/*endLine=*/true);
  struct sigaction stop = {}, ours = {};
  stop.sa_handler = SIG_DFL;
  sigemptyset(&stop.sa_mask);
  sigaction(sig, &stop, &ours);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, sig);
  raise(sig);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);  // the process stops here until it is continued
  sigprocmask(SIG_BLOCK, &only, nullptr);
  sigaction(sig, &ours, nullptr);
  widthChanged = 1;  // the window may have been resized while another job had it
  if (inKeyRead != kNoKeyRead) resumedInKeyRead = 1;
  if (sessionActive || inKeyRead != kNoKeyRead) {
    const int again = HandlerTerminal();
    TakeModes(again);
    CloseHandlerTerminal(again);
  }
  errno = savedErrno;
}

// Also for a stop the process could not see coming (SIGSTOP), and after `bg`, `fg`.
void OnContinue(int) {
  const int savedErrno = errno;
  widthChanged = 1;
  if (inKeyRead != kNoKeyRead) resumedInKeyRead = 1;
  if (!modesTaken && (sessionActive || inKeyRead != kNoKeyRead)) {
    const int fd = HandlerTerminal();
    TakeModes(fd);
    CloseHandlerTerminal(fd);
  }
  errno = savedErrno;
}

// The standard descriptor that is the controlling terminal, the keyboard, preferring one open
// for reading and writing: in an interactive shell every one of them is, so the keyboard costs
// no descriptor of its own. Decided once; -1 when none is.
struct StandardTerminal {
  int fd = -1;
  bool readable = false;
  bool writable = false;
};

const StandardTerminal& TheStandardTerminal() {
  static const StandardTerminal found = [] {
    StandardTerminal best;
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
      // tcgetpgrp succeeds on the controlling terminal only.
      if (isatty(fd) != 1 || tcgetpgrp(fd) < 0) continue;
      const int flags = fcntl(fd, F_GETFL);
      if (flags < 0) continue;
      const StandardTerminal t{fd, (flags & O_ACCMODE) != O_WRONLY,
                               (flags & O_ACCMODE) != O_RDONLY};
      if (best.fd < 0 || t.readable + t.writable > best.readable + best.writable) best = t;
    }
    HandlersHeldOff hold;
    standardTerminalFd = best.fd;
    return best;
  }();
  return found;
}

// Set once an open of /dev/tty has said the process has no controlling terminal. It will not
// gain one (every terminal it opens is opened with O_NOCTTY, and nothing else it opens can
// become one), so the terminal is not looked for again: a key read then costs no system call.
bool noControllingTerminal = false;

int OpenControllingTerminal() {
  if (noControllingTerminal) return -1;
  const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 && errno == ENXIO) noControllingTerminal = true;
  return fd;
}

}  // namespace

HandlersHeldOff::HandlersHeldOff() {
  const sigset_t set = HandledSignals();
  sigprocmask(SIG_BLOCK, &set, &previous_);
}

HandlersHeldOff::~HandlersHeldOff() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

void InstallSignalHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  const sigset_t handled = HandledSignals();
  const auto install = [&](int sig, void (*handler)(int), int flags) {
    struct sigaction old = {};
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) return;
    previousAction[sig] = old;
    struct sigaction sa = {};
    sa.sa_handler = handler;
    sa.sa_mask = handled;
    sa.sa_flags = flags;
    sigaction(sig, &sa, nullptr);
  };
  for (int sig : kFatalSignals) install(sig, OnFatalSignal, 0);
  for (int sig : kStopSignals) install(sig, OnStopSignal, SA_RESTART);
  install(SIGCONT, OnContinue, SA_RESTART);
}

TerminalHandle::TerminalHandle(Use use) {
  const StandardTerminal& standard = TheStandardTerminal();
  if (standard.fd >= 0 &&
      (use == Use::kModes || (use == Use::kRead ? standard.readable : standard.writable))) {
    fd_ = standard.fd;
    return;
  }
  fd_ = OpenControllingTerminal();
  owned_ = fd_ >= 0;
}

TerminalHandle::~TerminalHandle() {
  if (owned_) close(fd_);
}

RawMode::RawMode(int fd) : fd_(fd) {
  InstallSignalHandlers();
  HandlersHeldOff hold;
  inKeyRead = kPromptGoingOut;
  TakeModes(fd_);
}

void RawMode::Waiting() {
  HandlersHeldOff hold;
  inKeyRead = kAwaitingKey;
  TakeModes(fd_);
}

void RawMode::Check() {
  HandlersHeldOff hold;
  if (!modesTaken) {
    TakeModes(fd_);
    return;
  }
  struct termios now;
  if (!InForeground(fd_) || tcgetattr(fd_, &now) != 0) return;
  const struct termios& wanted = WantedMode();
  if (now.c_lflag != wanted.c_lflag || now.c_iflag != wanted.c_iflag ||
      now.c_cc[VMIN] != wanted.c_cc[VMIN] || now.c_cc[VINTR] != wanted.c_cc[VINTR])
    tcsetattr(fd_, TCSANOW, &wanted);
}

RawMode::~RawMode() {
  HandlersHeldOff hold;
  inKeyRead = kNoKeyRead;
  if (!sessionActive)
    GiveModesBack(fd_);
  else if (modesTaken)
    TakeModes(fd_);
}

bool InBackground(int fd) {
  const pid_t group = tcgetpgrp(fd);
  return group > 0 && group != getpgrp();
}

bool WaitForForeground(int fd) {
  bool waited = false;
  while (InBackground(fd)) {
    waited = true;
    // The whole job stops, as the terminal stops it for a read from the background; the stop
    // handler puts the terminal back first and takes the modes again once continued.
    kill(0, SIGTTIN);
    if (InBackground(fd)) poll(nullptr, 0, kForegroundCheckMs);
  }
  return waited;
}

}  // namespace posix_terminal

using namespace posix_terminal;

// A terminal that is there but takes no descriptor now (none free) still counts.
bool KeyboardExists() {
  const TerminalHandle keyboard(TerminalHandle::Use::kRead);
  return keyboard.valid() || !noControllingTerminal;
}

void BeginTerminal() {
  const bool outputIsTerminal = OutputIsTerminal();
  {
    HandlersHeldOff hold;
    sessionActive = 1;
  }
  const TerminalHandle terminal(TerminalHandle::Use::kModes);
  if (outputIsTerminal || terminal.valid()) InstallSignalHandlers();
  HandlersHeldOff hold;
  TakeModes(terminal.fd());
}

void EndTerminal() {
  ShowAllOutput();
  const TerminalHandle terminal(TerminalHandle::Use::kModes);
  HandlersHeldOff hold;
  GiveModesBack(terminal.fd());
  sessionActive = 0;
}
