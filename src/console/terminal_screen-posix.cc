// The screen of a POSIX terminal: what the writers put on standard output, made inert by the
// display filter in the terminal's character set and held back for a moment on its way, and
// the echo of keys.
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <cwctype>
#include <string>

#include "console/ascii.h"
#include "console/held_output.h"
#include "console/terminal-posix.h"
#include "console/terminal.h"
#include "console/terminal_text.h"

namespace posix_terminal {
namespace {

constexpr int kFallbackWidth = 80;
constexpr int kFallbackRows = 24;

void NoteResize(int) { widthChanged = 1; }

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
    const ssize_t n = RetryOnInterrupt([&] { return write(fd, bytes.data(), bytes.size()); });
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      struct pollfd p = {fd, POLLOUT, 0};
      if (RetryOnInterrupt([&] { return poll(&p, 1, -1); }) < 0) return;
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

int RowsOf(int fd) {
  struct winsize ws = {};
  if (ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0) return ws.ws_row;
  return kFallbackRows;
}

// How the terminal is told colours, as its description (TERM) says and the user asks: a
// NO_COLOR that is set and not empty asks for none.
TerminalStyle StyleOfTerminal() {
  const char* noColour = std::getenv("NO_COLOR");
  return TerminalStyle::For(DescribeTerminal(std::getenv("TERM")),
                            noColour != nullptr && *noColour != '\0');
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
  for (char& c : lower) c = static_cast<char>(FoldAscii(c));
  return lower.find("utf-8") != std::string::npos || lower.find("utf8") != std::string::npos;
}

// The terminal reads bytes in the character set of the user's locale (LC_ALL, LC_CTYPE,
// LANG), as every program the user runs there writes them. A one-byte set's printable bytes
// are asked of the C library; a set of more bytes per character (EUC, GB 18030, Big5) has no
// byte from 0x80 up that shows alone, so there, as in the C locale, only ASCII is written.
TerminalCharset LocaleCharset() {
  // The process's own locale stays C for everything else: the user's is taken for the question
  // and given back. (setlocale rather than newlocale, which leaks its search path when LOCPATH
  // is set.)
  const char* current = setlocale(LC_CTYPE, nullptr);
  const std::string previous = current ? current : "C";
  if (!setlocale(LC_CTYPE, "")) {
    if (NamedUtf8()) return TerminalCharset();
    return OneByteCharset([](unsigned char) { return false; });
  }
  TerminalCharset charset;
  if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) {
    charset = OneByteCharset([](unsigned char b) {
      const wint_t wide = btowc(b);
      return wide != WEOF && iswprint(wide) != 0;
    });
  }
  setlocale(LC_CTYPE, previous.c_str());
  return charset;
}

// The hold is 50 ms: the coarse clock, which costs no read of the processor's counter, is
// fine enough for it, and the walk asks for the time several times per file.
HeldOutput::Clock::time_point Now() {
  struct timespec ts;
  if (clock_gettime(CLOCK_MONOTONIC_COARSE, &ts) != 0) return HeldOutput::Clock::now();
  return HeldOutput::Clock::time_point(std::chrono::duration_cast<HeldOutput::Clock::duration>(
      std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec)));
}

const TerminalCharset& TheCharset() {
  static const TerminalCharset charset = LocaleCharset();
  return charset;
}

// Standard output, when it is a terminal: the filter that makes text inert, and what is held
// back on its way.
struct Screen {
  bool isTerminal = isatty(STDOUT_FILENO) == 1;
  TerminalStyle style = isTerminal ? StyleOfTerminal() : TerminalStyle();
  DisplayFilter filter{TheCharset()};
  HeldOutput held{Now(), style};
  bool clearedBefore = false;  // the window has been cleared once
  int shownColumn = 0;         // where the terminal's cursor stands after the last pass
  // The last text a writer gave, not through the filter yet. A walk writes each file's path
  // line, and for a file without a match the next clear drops it a moment later: it goes
  // through the filter only once something needs it drawn (a pass, more text, other colours,
  // the cursor's column, a key).
  std::string unfiltered;

  ~Screen() { resetSequence = ""; }  // a handler during the exit must not read freed memory

  Screen() {
    if (!isTerminal) return;
    resetSequence = style.reset().c_str();
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
    held.Passed(Now());
    coloursMayBeSet = held.ColoursMayBeSetAfterPass();
    shownColumn = filter.column();
    cursorPastLineStart = shownColumn != 0;
  }

  // Passes what has been held long enough. Not on a terminal that cannot clear, where what a
  // clear would have erased (the path of each file without a match) would stay on the screen
  // for good: there the reports are shown whole, when a key is read. Not in the background
  // either, where the terminal is another job's.
  void Refresh() {
    if (unfiltered.empty() && held.held().empty()) return;
    if (!held.Due(Now()) || style.clear().empty() || InBackground(STDOUT_FILENO)) return;
    Settle();
    Pass();
  }

  // Puts the text not yet filtered through the filter, as its writer would have.
  void Settle() {
    if (unfiltered.empty()) return;
    const int width = ScreenWidth();
    filter.Write(unfiltered, width, held.sink());
    filter.EndCharacter(width, held.sink());
    unfiltered.clear();
  }

  // Ends a character the filter still waits on, before colours change or the output is shown
  // whole.
  void FinishCharacter() {
    Settle();
    filter.Finish(ScreenWidth(), held.sink());
  }

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

}  // namespace

bool OutputIsTerminal() { return TheScreen().isTerminal; }

void ShowAllOutput() {
  Screen& screen = TheScreen();
  if (screen.isTerminal) screen.ShowAll();
}

}  // namespace posix_terminal

using namespace posix_terminal;

bool OutputIsConsole() { return OutputIsTerminal(); }

bool QueryConsole(ConsoleInfo& info) {
  Screen& screen = TheScreen();
  if (!screen.isTerminal) return false;
  screen.Settle();
  const int width = ScreenWidth();
  info.attribute = screen.held.attribute();
  info.cursorColumn = screen.filter.column() < width ? screen.filter.column() : width - 1;
  info.rightEdge = width - 1;
  return true;
}

void SetConsoleAttribute(ConsoleAttribute attribute) {
  Screen& screen = TheScreen();
  assert(screen.isTerminal && "only after QueryConsole has returned true");
  if (attribute == screen.held.attribute()) return;
  screen.FinishCharacter();
  const std::string_view mark = screen.style.MarkBetween(screen.held.attribute(), attribute);
  screen.held.SetAttribute(attribute);
  if (!mark.empty()) {
    // Written as text, so that the cursor's column counts it.
    screen.filter.Write(mark, ScreenWidth(), screen.held.sink());
    screen.filter.EndCharacter(ScreenWidth(), screen.held.sink());
  }
}

void WriteConsoleBytes(std::string_view bytes) {
  Screen& screen = TheScreen();
  assert(screen.isTerminal && "only after QueryConsole has returned true");
  screen.Settle();
  screen.unfiltered.assign(bytes);
}

void RefreshScreen() {
  Screen& screen = TheScreen();
  if (screen.isTerminal) screen.Refresh();
}

bool ClearConsoleWindow() {
  Screen& screen = TheScreen();
  if (!screen.isTerminal) return false;
  // The clear erases what was written since the last pass, filtered or not.
  screen.unfiltered.clear();
  screen.filter.Finish(ScreenWidth(), screen.held.sink());
  screen.held.DropForClear();
  std::string& out = screen.held.sink();
  const TerminalStyle& style = screen.style;
  if (style.clear().empty()) {
    // No clear: the report starts on a line of its own after a blank one.
    out += screen.shownColumn != 0 ? "\r\n\r\n" : "\r\n";
  } else {
    const bool first = !screen.clearedBefore && !style.scrollForward().empty();
    if (first) {
      // What the user had on the screen goes up into the scrollback instead of being erased:
      // from the cursor's row, a screenful of lines scrolls every row down to it away.
      for (int rows = RowsOf(STDOUT_FILENO); rows > 0; --rows) out += style.scrollForward();
    }
    out += style.clear();
    screen.clearedBefore = true;
    screen.filter.Home();
    // Passed at once, so that the next clear (the first file may have no match) cannot drop it.
    if (first) screen.Pass();
  }
  screen.filter.Home();
  screen.Refresh();
  return true;
}

TextUnit NextConsoleUnit(std::string_view text, int maxCells) {
  assert(!text.empty());
  if (!TheCharset().utf8) return {1, 1};
  return NextShownUnit(text, maxCells);
}

int ConsoleTabCells(int column) { return 8 - column % 8; }

namespace {

bool Acts(char ch) {
  const auto b = static_cast<unsigned char>(ch);
  return b < 0x20 || b == 0x7F;
}

// Where the first control byte (below 0x20, or DEL) of `text` is; text.end() when none is.
// Every path shown goes through here, nearly always without one: eight bytes are looked at
// at a time until one is found.
std::string_view::iterator FirstActing(std::string_view text) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  constexpr std::uint64_t kHighs = 0x8080808080808080;
  std::size_t i = 0;
  for (; i + sizeof(std::uint64_t) <= text.size(); i += sizeof(std::uint64_t)) {
    std::uint64_t x;
    std::memcpy(&x, text.data() + i, sizeof x);
    const std::uint64_t below = (x - kOnes * 0x20) & ~x & kHighs;  // some byte below 0x20
    const std::uint64_t del = x ^ (kOnes * 0x7F);
    if (below | ((del - kOnes) & ~del & kHighs)) break;  // or some byte is 0x7F
  }
  return std::find_if(text.begin() + static_cast<std::ptrdiff_t>(i), text.end(), Acts);
}

}  // namespace

std::string_view InertText(std::string_view text, std::string& scratch) {
  const auto first = FirstActing(text);
  if (first == text.end()) return text;
  scratch.assign(text.begin(), first);
  for (auto it = first; it != text.end(); ++it) {
    if (Acts(*it))
      scratch += SymbolFor(static_cast<unsigned char>(*it), TheCharset());
    else
      scratch += *it;
  }
  return scratch;
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
    screen.Settle();
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
