// The console on a POSIX terminal: ANSI escape sequences out, termios modes for the keyboard,
// and the signal handlers that put the terminal back. The only file that knows about termios
// and /dev/tty.
//
// Modes: from BeginTerminal to EndTerminal the keyboard has echo and line input off with
// interrupt keys on ("quiet"); during a key read the interrupt and quit keys are keys too
// ("raw"), while the suspend key still suspends. Whoever ends or stops the process puts the
// mode found at the start back: EndTerminal, the fatal signal handler, the job-control stop
// handler (which takes the modes again when the process is continued in the foreground).
#include "console/terminal.h"

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>

#include "console/held_output.h"
#include "console/key_decoder.h"
#include "console/terminal_text.h"

namespace {

constexpr int kEscTimeoutMs = 25;
constexpr int kFallbackWidth = 80;
// How long a signal handler waits for the terminal to take the colour reset before it gives up.
constexpr long kHandlerWriteMs = 250;
// Home and clear the window; the terminal's scrollback, the user's earlier work, stays.
constexpr std::string_view kClearAll = "\x1b[H\x1b[2J";
constexpr char kResetColours[] = "\x1b[0m";

// Signals whose default action ends the process; each puts the terminal back first.
constexpr int kFatalSignals[] = {SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
                                 SIGFPE,  SIGUSR1, SIGSEGV, SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
                                 SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS};
constexpr int kStopSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};

// What the signal handlers need. Outside them it is changed only with the handled signals
// blocked (see HandlersHeldOff).
// One of the standard descriptors when it is the controlling terminal, else -1: the terminal
// is then opened for each task (see TerminalHandle), and by the handlers for theirs.
volatile std::sig_atomic_t standardTerminalFd = -1;
volatile std::sig_atomic_t sessionActive = 0;  // between BeginTerminal and EndTerminal
volatile std::sig_atomic_t modesTaken = 0;     // our modes are set; savedMode holds the earlier
// 0: the quiet mode is wanted; 1: the raw mode, with flow control kept while the prompt's last
// bytes go out (Ctrl+S may still hold them); 2: the raw mode whole, while waiting for the key.
volatile std::sig_atomic_t inKeyRead = 0;
volatile std::sig_atomic_t coloursMayBeSet = 0;
volatile std::sig_atomic_t coloursReset = 0;   // a handler reset the colours behind the writers
volatile std::sig_atomic_t widthChanged = 1;
// The process was stopped during a key read and has been continued: the shell has written over
// the screen since.
volatile std::sig_atomic_t resumedInKeyRead = 0;
struct termios savedMode, quietMode, rawMode, rawWritingMode;
// Standard output's terminal, which a handler opens for a descriptor of its own.
char terminalPath[256] = "";
struct sigaction previousAction[NSIG];

void NoteResize(int) { widthChanged = 1; }

sigset_t HandledSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kFatalSignals) sigaddset(&set, sig);
  for (int sig : kStopSignals) sigaddset(&set, sig);
  sigaddset(&set, SIGCONT);
  return set;
}

// Keeps the handlers from running while the state they read is changed.
class HandlersHeldOff {
 public:
  HandlersHeldOff() {
    const sigset_t set = HandledSignals();
    sigprocmask(SIG_BLOCK, &set, &previous_);
  }
  ~HandlersHeldOff() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  HandlersHeldOff(const HandlersHeldOff&) = delete;
  HandlersHeldOff& operator=(const HandlersHeldOff&) = delete;

 private:
  sigset_t previous_;
};

// Everything from here to the handlers is async-signal-safe.

bool InForeground(int fd) {
  const pid_t group = tcgetpgrp(fd);
  return group > 0 && group == getpgrp();
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
  if (fd < 0) return;
  if (!modesTaken) {
    if (!InForeground(fd) || tcgetattr(fd, &savedMode) != 0) return;
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
  tcsetattr(fd, TCSANOW, inKeyRead == 2 ? &rawMode : inKeyRead == 1 ? &rawWritingMode : &quietMode);
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

// Writes the colour reset through a descriptor that never blocks, opened for the purpose: the
// process's own standard output may be stuck in a write to a terminal that does not drain, and
// may belong to others who rely on its blocking mode. Gives up after kHandlerWriteMs.
void ResetColoursFromHandler() {
  if (!coloursMayBeSet || terminalPath[0] == '\0') return;
  const int fd = open(terminalPath, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  const char* next = kResetColours;
  std::size_t left = sizeof kResetColours - 1;
  const long long deadline = MonotonicMs() + kHandlerWriteMs;
  while (left > 0) {
    const ssize_t n = write(fd, next, left);
    if (n > 0) {
      next += n;
      left -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) break;
    const long long wait = deadline - MonotonicMs();
    if (wait <= 0) break;
    struct pollfd p = {fd, POLLOUT, 0};
    if (poll(&p, 1, static_cast<int>(wait)) < 0 && errno != EINTR) break;
  }
  close(fd);
  if (left == 0) {
    coloursMayBeSet = 0;
    coloursReset = 1;
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
  ResetColoursFromHandler();
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
  if (inKeyRead) resumedInKeyRead = 1;
  if (sessionActive || inKeyRead) {
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
  if (inKeyRead) resumedInKeyRead = 1;
  if (!modesTaken && (sessionActive || inKeyRead)) {
    const int fd = HandlerTerminal();
    TakeModes(fd);
    CloseHandlerTerminal(fd);
  }
  errno = savedErrno;
}

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

void InstallResizeHandler() {
  struct sigaction sa = {};
  sa.sa_handler = NoteResize;
  sa.sa_flags = SA_RESTART;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGWINCH, &sa, nullptr);
}

// Writes all of `bytes`, waiting for the terminal to take more when its file description is
// non-blocking. A failed write loses the rest of that text and nothing else.
void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      struct pollfd p = {fd, POLLOUT, 0};
      if (poll(&p, 1, -1) < 0 && errno != EINTR) return;
      continue;
    }
    return;
  }
}

int WidthOf(int fd) {
  struct winsize ws = {};
  if (ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return kFallbackWidth;
}

// The width of standard output's terminal, asked again only after it has been resized.
int ScreenWidth() {
  static int width = kFallbackWidth;
  if (widthChanged) {
    widthChanged = 0;
    width = WidthOf(STDOUT_FILENO);
  }
  return width;
}

// Whether the locale the environment names, by its name alone, reads UTF-8: for a locale that
// is named but not installed on this system, whose terminal most likely reads UTF-8 all the same.
bool NamedUtf8() {
  const char* name = nullptr;
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    name = std::getenv(variable);
    if (name && *name) break;
  }
  if (!name) return false;
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower.find("utf-8") != std::string::npos || lower.find("utf8") != std::string::npos;
}

// The terminal reads bytes in the character set of the user's locale (LC_ALL, LC_CTYPE,
// LANG), as every program the user runs there writes them. A one-byte set's printable bytes
// are asked of the C library; a set of more bytes per character (EUC, GB 18030, Big5) has no
// byte from 0x80 up that shows alone, so there, as in the C locale, only ASCII is written.
TerminalCharset LocaleCharset() {
  locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
  if (!locale) {
    if (NamedUtf8()) return TerminalCharset();
    return OneByteCharset([](unsigned char) { return false; });
  }
  const bool utf8 = std::strcmp(nl_langinfo_l(CODESET, locale), "UTF-8") == 0;
  TerminalCharset charset;
  if (!utf8) {
    const locale_t previous = uselocale(locale);
    charset = OneByteCharset([](unsigned char b) {
      const wint_t wide = btowc(b);
      return wide != WEOF && iswprint(wide) != 0;
    });
    uselocale(previous);
  }
  freelocale(locale);
  return charset;
}

const TerminalCharset& TheCharset() {
  static const TerminalCharset charset = LocaleCharset();
  return charset;
}

// Standard output, when it is a terminal: the filter that makes text inert, and what is held
// back on its way.
struct Screen {
  bool isTerminal = false;
  DisplayFilter filter{TheCharset()};
  HeldOutput held{HeldOutput::Clock::now()};

  Screen() {
    isTerminal = isatty(STDOUT_FILENO) == 1;
    if (!isTerminal) return;
    if (ttyname_r(STDOUT_FILENO, terminalPath, sizeof terminalPath) != 0) terminalPath[0] = '\0';
    InstallResizeHandler();
  }

  // Writes everything held.
  void Pass() {
    if (coloursReset) {
      coloursReset = 0;
      held.ColoursWereReset();
    }
    if (!held.held().empty()) {
      if (held.ColoursMayBeSetDuringPass()) coloursMayBeSet = 1;
      WriteAll(STDOUT_FILENO, held.held());
    }
    held.Passed(HeldOutput::Clock::now());
    coloursMayBeSet = held.ColoursMayBeSetAfterPass();
  }

  void Refresh() {
    if (held.Due(HeldOutput::Clock::now())) Pass();
  }

  // Ends a character the filter still waits on, before colours change, the window is cleared,
  // or the output is shown whole.
  void FinishCharacter() { filter.Finish(ScreenWidth(), held.sink()); }

  // Everything written reaches the terminal now.
  void ShowAll() {
    FinishCharacter();
    Pass();
  }
};

Screen& TheScreen() {
  static Screen screen;
  return screen;
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

// A descriptor on the controlling terminal for one task: the standard one when it serves, else
// /dev/tty, opened for the task and closed after it, so that between key reads the walk has
// every descriptor the process may have. Invalid when there is no controlling terminal or no
// free descriptor; the next task tries again.
class TerminalHandle {
 public:
  enum class Use { kModes, kRead, kWrite };
  explicit TerminalHandle(Use use) {
    const StandardTerminal& standard = TheStandardTerminal();
    if (standard.fd >= 0 && (use == Use::kModes || (use == Use::kRead ? standard.readable
                                                                       : standard.writable))) {
      fd_ = standard.fd;
      return;
    }
    fd_ = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    owned_ = fd_ >= 0;
  }
  ~TerminalHandle() {
    if (owned_) close(fd_);
  }
  TerminalHandle(const TerminalHandle&) = delete;
  TerminalHandle& operator=(const TerminalHandle&) = delete;

  bool valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  bool owned_ = false;
};

// Bytes of keys that came in one burst after the key returned.
std::string& UnreadKeys() {
  static std::string unread;
  return unread;
}

// The raw mode for the span of one key read on `fd`; on every way out the quiet mode comes
// back, or outside a console session the mode found before the read. Until Waiting() flow
// control stays on, so that output the user holds with Ctrl+S stays held.
class RawMode {
 public:
  explicit RawMode(int fd) : fd_(fd) {
    InstallSignalHandlers();
    HandlersHeldOff hold;
    inKeyRead = 1;
    TakeModes(fd_);
  }
  void Waiting() {
    HandlersHeldOff hold;
    inKeyRead = 2;
    TakeModes(fd_);
  }
  ~RawMode() {
    HandlersHeldOff hold;
    inKeyRead = 0;
    if (!sessionActive)
      GiveModesBack(fd_);
    else if (modesTaken)
      TakeModes(fd_);
  }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;

 private:
  int fd_;
};

// Appends what arrives within `timeoutMs`; false when nothing did, or when the process was
// stopped and continued meanwhile (see resumedInKeyRead).
bool ReadMore(int fd, std::string& into, int timeoutMs) {
  struct pollfd p = {fd, POLLIN, 0};
  int ready;
  do ready = poll(&p, 1, timeoutMs);
  while (ready < 0 && errno == EINTR && !resumedInKeyRead);
  if (ready <= 0 || !(p.revents & POLLIN)) return false;
  char buf[64];
  ssize_t n;
  do n = read(fd, buf, sizeof buf);
  while (n < 0 && errno == EINTR);
  if (n <= 0) return false;
  into.append(buf, static_cast<std::size_t>(n));
  return true;
}

}  // namespace

void BeginTerminal() {
  Screen& screen = TheScreen();
  {
    HandlersHeldOff hold;
    sessionActive = 1;
  }
  const TerminalHandle terminal(TerminalHandle::Use::kModes);
  if (screen.isTerminal || terminal.valid()) InstallSignalHandlers();
  HandlersHeldOff hold;
  TakeModes(terminal.fd());
}

void EndTerminal() {
  Screen& screen = TheScreen();
  if (screen.isTerminal) screen.ShowAll();
  const TerminalHandle terminal(TerminalHandle::Use::kModes);
  HandlersHeldOff hold;
  GiveModesBack(terminal.fd());
  sessionActive = 0;
}

bool QueryConsole(ConsoleInfo& info) {
  Screen& screen = TheScreen();
  if (!screen.isTerminal) return false;
  const int width = ScreenWidth();
  info.attribute = screen.held.attribute();
  info.cursorColumn = screen.filter.column() < width ? screen.filter.column() : width - 1;
  info.rightEdge = width - 1;
  return true;
}

void SetConsoleAttribute(ConsoleAttribute attribute) {
  Screen& screen = TheScreen();
  if (attribute == screen.held.attribute()) return;
  screen.FinishCharacter();
  screen.held.SetAttribute(attribute);
}

void WriteConsoleBytes(std::string_view bytes) {
  Screen& screen = TheScreen();
  screen.filter.Write(bytes, ScreenWidth(), screen.held.sink());
  screen.filter.EndCharacter(ScreenWidth(), screen.held.sink());
}

void RefreshScreen() {
  Screen& screen = TheScreen();
  if (screen.isTerminal) screen.Refresh();
}

void ClearConsoleWindow() {
  Screen& screen = TheScreen();
  screen.FinishCharacter();
  screen.held.DropForClear();
  screen.held.sink() += kClearAll;
  screen.filter.Home();
  screen.Refresh();
}

TextUnit NextConsoleUnit(std::string_view text, int maxCells) {
  if (!TheCharset().utf8) return {1, 1};
  return NextShownUnit(text, maxCells);
}

std::string InertText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    if (b < 0x20 || b == 0x7F)
      out += SymbolFor(b, TheCharset());
    else
      out += ch;
  }
  return out;
}

void FlushKeyboardInput() {
  UnreadKeys().clear();
  const TerminalHandle terminal(TerminalHandle::Use::kModes);
  if (terminal.valid()) tcflush(terminal.fd(), TCIFLUSH);
}

KeyPress ReadKeyboard() {
  KeyPress key;
  Screen& screen = TheScreen();
  std::string& bytes = UnreadKeys();
  if (bytes.empty()) {
    const TerminalHandle keyboard(TerminalHandle::Use::kRead);
    if (!keyboard.valid()) {
      if (screen.isTerminal) screen.ShowAll();
      return key;
    }
    // The key-read mode comes first and the prompt's last bytes after it: a user who answers
    // the moment the prompt shows (Ctrl+C included) is read as a key, never as an interrupt.
    RawMode raw(keyboard.fd());
    resumedInKeyRead = 0;
    if (screen.isTerminal) screen.ShowAll();
    raw.Waiting();
    if (!ReadMore(keyboard.fd(), bytes, -1)) {
      key.resumed = resumedInKeyRead != 0;
      return key;
    }
    // A lone Esc and the start of an escape sequence look alike; the rest of a sequence follows
    // within a few milliseconds, a person's next key does not.
    while (KeyMayContinue(bytes) && ReadMore(keyboard.fd(), bytes, kEscTimeoutMs)) {
    }
  } else if (screen.isTerminal) {
    screen.ShowAll();
  }
  const DecodedKey decoded = DecodeKey(bytes);
  key.code = decoded.code;
  key.secondCode = decoded.secondCode;
  key.typed.assign(bytes, 0, decoded.used);
  bytes.erase(0, decoded.used);
  return key;
}

void EchoKey(int code, const KeyPress& key) {
  // A character key is shown as typed; a code of its own (224, Alt's 0) as the PC console
  // shows that byte.
  const std::string& typed = key.typed;
  std::string shown;
  if (!typed.empty() && static_cast<unsigned char>(typed[0]) == code && typed[0] != '\x1b')
    shown = typed;
  else
    shown = SymbolFor(static_cast<unsigned char>(code), TheCharset());

  Screen& screen = TheScreen();
  if (screen.isTerminal) {
    screen.filter.Write(shown, ScreenWidth(), screen.held.sink());
    screen.ShowAll();
    return;
  }
  const TerminalHandle terminal(TerminalHandle::Use::kWrite);
  if (!terminal.valid()) return;
  DisplayFilter filter(TheCharset());
  std::string out;
  const int width = WidthOf(terminal.fd());
  filter.Write(shown, width, out);
  filter.Finish(width, out);
  WriteAll(terminal.fd(), out);
}
