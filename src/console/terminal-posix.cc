// The console on a POSIX terminal: ANSI escape sequences out, termios raw mode for key reads.
// The only file that knows about termios and /dev/tty.
#include "console/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>

#include "console/key_decoder.h"
#include "console/terminal_text.h"

namespace {

constexpr int kEscTimeoutMs = 25;
constexpr int kFallbackWidth = 80;
// Output is held back at most this long, so a walk over many files without a match updates
// the terminal a few times a second instead of once per file.
constexpr auto kHoldLimit = std::chrono::milliseconds(50);
constexpr std::string_view kClearAll = "\x1b[H\x1b[2J\x1b[3J";  // home, clear, scrollback
constexpr char kResetColours[] = "\x1b[0m";

// What the signal handler needs to put the terminal back. Written only outside the handler.
volatile std::sig_atomic_t rawModeActive = 0;
volatile std::sig_atomic_t coloursMayBeSet = 0;
volatile std::sig_atomic_t keyboardFd = -1;
volatile std::sig_atomic_t widthChanged = 1;
struct termios savedMode;

void NoteResize(int) { widthChanged = 1; }

void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a failed write loses that text and nothing else
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void RestoreTerminalAndDie(int sig) {
  if (rawModeActive) tcsetattr(keyboardFd, TCSANOW, &savedMode);
  if (coloursMayBeSet) {
    ssize_t ignored = write(STDOUT_FILENO, kResetColours, sizeof kResetColours - 1);
    (void)ignored;
  }
  // SA_RESETHAND has put back the default action; it takes effect when the handler returns.
  raise(sig);
}

void InstallResizeHandler() {
  struct sigaction sa = {};
  sa.sa_handler = NoteResize;
  sa.sa_flags = SA_RESTART;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGWINCH, &sa, nullptr);
}

void InstallSignalHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction old = {};
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction sa = {};
    sa.sa_handler = RestoreTerminalAndDie;
    sa.sa_flags = SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, nullptr);
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

// Standard output, when it is a terminal: what has been written to it, what is held back,
// and where that leaves the cursor.
struct Screen {
  using Clock = std::chrono::steady_clock;

  bool isTerminal = false;
  ConsoleAttribute attribute = kDefaultAttribute;          // as the writers see it
  ConsoleAttribute shownAttribute = kDefaultAttribute;     // as the terminal has it
  DisplayFilter filter;
  std::string pending;  // held back; reaches the terminal in one write
  bool pendingHasColour = false;
  Clock::time_point lastWrite = Clock::now();

  Screen() {
    isTerminal = isatty(STDOUT_FILENO) == 1;
    if (!isTerminal) return;
    InstallSignalHandlers();
    InstallResizeHandler();
  }
  ~Screen() { Flush(); }  // at exit, everything written is shown

  void Flush() {
    if (!pending.empty()) {
      if (pendingHasColour) coloursMayBeSet = 1;
      WriteAll(STDOUT_FILENO, pending);
      pending.clear();
      pendingHasColour = false;
    }
    shownAttribute = attribute;
    coloursMayBeSet = attribute != kDefaultAttribute;
    lastWrite = Clock::now();
  }

  void FlushIfDue() {
    if (!pending.empty() && Clock::now() - lastWrite >= kHoldLimit) Flush();
  }

  // Everything held would be erased by a clear: drop it, but keep the colours in step.
  void DropPending() {
    pending.clear();
    pendingHasColour = false;
    if (attribute != shownAttribute) AppendAttribute();
  }

  void AppendAttribute() {
    pending += AttributeToSgr(attribute);
    if (attribute != kDefaultAttribute) pendingHasColour = true;
  }
};

Screen& TheScreen() {
  static Screen screen;
  return screen;
}

// The user's keyboard: the controlling terminal, opened on first use and kept open.
class Keyboard {
 public:
  Keyboard() {
    fd_ = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ >= 0) {
      keyboardFd = fd_;
      InstallSignalHandlers();
    }
  }
  ~Keyboard() {
    if (fd_ >= 0) close(fd_);
  }
  Keyboard(const Keyboard&) = delete;
  Keyboard& operator=(const Keyboard&) = delete;

  int fd() const { return fd_; }
  std::string& unread() { return unread_; }
  std::string& lastKey() { return lastKey_; }

 private:
  int fd_ = -1;
  std::string unread_;   // bytes of keys that came in one burst after the key returned
  std::string lastKey_;  // the bytes of the key last returned, for its echo
};

Keyboard& TheKeyboard() {
  static Keyboard keyboard;
  return keyboard;
}

// Raw mode for the span of one read; the previous mode comes back on every way out.
class RawMode {
 public:
  explicit RawMode(int fd) : fd_(fd) {
    if (tcgetattr(fd_, &savedMode) != 0) return;
    struct termios raw = savedMode;
    raw.c_iflag &= ~(IXON | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | PARMRK);
    raw.c_lflag &= ~(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    rawModeActive = 1;
    if (tcsetattr(fd_, TCSANOW, &raw) != 0) {
      rawModeActive = 0;
      return;
    }
    active_ = true;
  }
  ~RawMode() {
    if (!active_) return;
    tcsetattr(fd_, TCSANOW, &savedMode);
    rawModeActive = 0;
  }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;
  bool active() const { return active_; }

 private:
  int fd_;
  bool active_ = false;
};

// Whether `bytes` may still be the start of a longer escape sequence.
bool MayContinue(std::string_view bytes) {
  if (bytes.empty() || bytes[0] != '\x1b') return false;
  if (bytes.size() == 1) return true;
  if (bytes[1] == 'O') return bytes.size() < 3;
  if (bytes[1] != '[') return false;
  if (bytes.size() >= 3 && bytes[2] == '[') return bytes.size() < 4;
  for (std::size_t i = 2; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x40 && c <= 0x7E) return false;
  }
  return true;
}

// Appends what arrives within `timeoutMs`; false when nothing did.
bool ReadMore(int fd, std::string& into, int timeoutMs) {
  struct pollfd p = {fd, POLLIN, 0};
  int ready;
  do ready = poll(&p, 1, timeoutMs);
  while (ready < 0 && errno == EINTR);
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

bool QueryConsole(ConsoleInfo& info) {
  Screen& screen = TheScreen();
  if (!screen.isTerminal) return false;
  const int width = ScreenWidth();
  info.attribute = screen.attribute;
  info.cursorColumn = screen.filter.column() < width ? screen.filter.column() : width - 1;
  info.rightEdge = width - 1;
  return true;
}

void SetConsoleAttribute(ConsoleAttribute attribute) {
  Screen& screen = TheScreen();
  if (attribute == screen.attribute) return;
  screen.filter.Finish(ScreenWidth(), screen.pending);
  screen.attribute = attribute;
  screen.AppendAttribute();
}

void WriteConsoleBytes(std::string_view bytes) {
  Screen& screen = TheScreen();
  screen.filter.Write(bytes, ScreenWidth(), screen.pending);
}

void FlushConsole() {
  Screen& screen = TheScreen();
  if (screen.isTerminal) screen.FlushIfDue();
}

void ClearConsoleWindow() {
  Screen& screen = TheScreen();
  screen.filter.Finish(ScreenWidth(), screen.pending);
  screen.DropPending();
  screen.pending += kClearAll;
  screen.filter.Home();
  screen.FlushIfDue();
}

void FlushKeyboardInput() {
  Keyboard& keyboard = TheKeyboard();
  keyboard.unread().clear();
  if (keyboard.fd() >= 0) tcflush(keyboard.fd(), TCIFLUSH);
}

int ReadKeyboard(int& secondCode) {
  secondCode = -1;
  if (TheScreen().isTerminal) TheScreen().Flush();
  Keyboard& keyboard = TheKeyboard();
  if (keyboard.fd() < 0) return -1;

  std::string& bytes = keyboard.unread();
  if (bytes.empty()) {
    RawMode raw(keyboard.fd());
    if (!raw.active()) return -1;
    if (!ReadMore(keyboard.fd(), bytes, -1)) return -1;
    // A lone Esc and the start of an escape sequence look alike; the rest of a sequence follows
    // within a few milliseconds, a person's next key does not.
    while (MayContinue(bytes) && ReadMore(keyboard.fd(), bytes, kEscTimeoutMs)) {
    }
  }
  const DecodedKey key = DecodeKey(bytes);
  keyboard.lastKey().assign(bytes, 0, key.used);
  bytes.erase(0, key.used);
  secondCode = key.secondCode;
  return key.code;
}

void EchoKey(int code) {
  Keyboard& keyboard = TheKeyboard();
  // A character key is shown as typed; a code of its own (224, Alt's 0) as the PC console
  // shows that byte.
  const std::string& typed = keyboard.lastKey();
  std::string shown;
  if (!typed.empty() && static_cast<unsigned char>(typed[0]) == code && typed[0] != '\x1b')
    shown = typed;
  else
    shown = Cp437Glyph(static_cast<unsigned char>(code));

  Screen& screen = TheScreen();
  if (screen.isTerminal) {
    const int width = ScreenWidth();
    screen.filter.Write(shown, width, screen.pending);
    screen.filter.Finish(width, screen.pending);
    screen.Flush();
  } else if (keyboard.fd() >= 0) {
    DisplayFilter filter;
    std::string out;
    const int width = WidthOf(keyboard.fd());
    filter.Write(shown, width, out);
    filter.Finish(width, out);
    WriteAll(keyboard.fd(), out);
  }
}
