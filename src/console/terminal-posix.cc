// The console on a POSIX terminal: ANSI escape sequences out, termios raw mode for key reads.
// The only file that knows about termios and /dev/tty.
#include "console/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "console/key_decoder.h"
#include "console/terminal_text.h"

namespace {

constexpr int kEscTimeoutMs = 25;
constexpr int kFallbackWidth = 80;
constexpr std::string_view kClearAll = "\x1b[H\x1b[2J\x1b[3J";  // home, clear, scrollback
constexpr char kResetColours[] = "\x1b[0m";

// What the signal handler needs to put the terminal back. Written only outside the handler.
volatile std::sig_atomic_t rawModeActive = 0;
volatile std::sig_atomic_t coloursMayBeSet = 0;
volatile std::sig_atomic_t keyboardFd = -1;
struct termios savedMode;

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

// Standard output, when it is a terminal: what has been written to it and where that left the
// cursor.
struct Screen {
  bool isTerminal = false;
  ConsoleAttribute attribute = kDefaultAttribute;
  DisplayFilter filter;
  std::string pending;  // built up by one writer call, written by Flush in one go
  bool pendingHasColour = false;

  Screen() {
    isTerminal = isatty(STDOUT_FILENO) == 1;
    if (isTerminal) InstallSignalHandlers();
  }

  void Flush() {
    if (pending.empty()) return;
    if (pendingHasColour) coloursMayBeSet = 1;
    WriteAll(STDOUT_FILENO, pending);
    pending.clear();
    pendingHasColour = false;
    coloursMayBeSet = attribute != kDefaultAttribute;
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
  const int width = WidthOf(STDOUT_FILENO);
  info.attribute = screen.attribute;
  info.cursorColumn = screen.filter.column() < width ? screen.filter.column() : width - 1;
  info.rightEdge = width - 1;
  return true;
}

void SetConsoleAttribute(ConsoleAttribute attribute) {
  Screen& screen = TheScreen();
  if (attribute == screen.attribute) return;
  screen.filter.Finish(WidthOf(STDOUT_FILENO), screen.pending);
  screen.pending += AttributeToSgr(attribute);
  screen.attribute = attribute;
  if (attribute != kDefaultAttribute) screen.pendingHasColour = true;
}

void WriteConsoleBytes(std::string_view bytes) {
  Screen& screen = TheScreen();
  screen.filter.Write(bytes, WidthOf(STDOUT_FILENO), screen.pending);
}

void FlushConsole() { TheScreen().Flush(); }

void ClearConsoleWindow() {
  Screen& screen = TheScreen();
  screen.filter.Finish(WidthOf(STDOUT_FILENO), screen.pending);
  screen.pending += kClearAll;
  screen.filter.Home();
  screen.Flush();
}

void FlushKeyboardInput() {
  Keyboard& keyboard = TheKeyboard();
  keyboard.unread().clear();
  if (keyboard.fd() >= 0) tcflush(keyboard.fd(), TCIFLUSH);
}

int ReadKeyboard(int& secondCode) {
  secondCode = -1;
  TheScreen().Flush();
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
    const int width = WidthOf(STDOUT_FILENO);
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
