#include "console/console.h"

#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "console/terminal.h"

namespace {

// The second code of a two-code key, until it is read or discarded; -1 when none waits.
int waitingSecondCode = -1;

// What the writers have put on the window since it was last cleared, so that the window can be
// drawn again when others have written over it (a suspension at a prompt). One report at most:
// a path, a header, the context and the prompt. Its memory is kept from one clear to the next,
// as a walk writes a path line for every file.
class ShownText {
 public:
  void Remember(bool colored, ConsoleAttribute attribute, std::string_view text) {
    try {
      pieces_.push_back({colored, attribute, bytes_.size(), text.size()});
      bytes_.append(text);
    } catch (const std::bad_alloc&) {
      Clear();  // a redraw then shows less, and nothing else is lost
    }
  }

  void Clear() {
    pieces_.clear();
    bytes_.clear();
  }

  // Clears the window and writes again what it showed, at the window's present width.
  void DrawAgain() {
    ShownText shown;
    std::swap(shown, *this);
    ClearScreen();
    for (const Piece& piece : shown.pieces_) {
      const std::string_view text = std::string_view(shown.bytes_).substr(piece.start, piece.size);
      if (piece.colored)
        WriteColored(piece.attribute, text);
      else
        WritePlain(text);
    }
  }

 private:
  struct Piece {
    bool colored;
    ConsoleAttribute attribute;  // for colored text
    std::size_t start;           // in bytes_
    std::size_t size;
  };
  std::vector<Piece> pieces_;
  std::string bytes_;
};
ShownText shownSinceClear;

}  // namespace

void BeginConsole() { BeginTerminal(); }

bool ConsoleUnattended() { return !OutputIsConsole() && !KeyboardExists(); }

void EndConsole() { EndTerminal(); }

std::string WrapColored(std::string_view text, int startColumn, int rightEdge) {
  // Bells are neither written nor counted: they go first, so that no character is ended by one.
  std::string withoutBells;
  if (text.find('\a') != std::string_view::npos) {
    withoutBells.reserve(text.size());
    for (char c : text)
      if (c != '\a') withoutBells.push_back(c);
    text = withoutBells;
  }
  std::string out;
  out.reserve(text.size() + text.size() / 32 + 2);
  int counter = startColumn;
  // The counter restarts at 1 after CR and LF, where the cursor's column is 0: that column, for
  // the tab stops, is the counter less this.
  int lineStartOffset = 0;
  while (!text.empty()) {
    const char c = text.front();
    if (c == '\r' || c == '\n') {
      out.push_back(c);
      text.remove_prefix(1);
      counter = 1;
      lineStartOffset = 1;
    } else if (const int tabCells = c == '\t' ? ConsoleTabCells(counter - lineStartOffset) : 1;
               tabCells > 1) {
      // A tab that would pass the row's end fills the row with blanks instead, so that the row
      // ends where the count says and nowhere else.
      text.remove_prefix(1);
      if (counter + tabCells > rightEdge) {
        out.append(static_cast<std::size_t>(std::max(rightEdge - counter, 0)), ' ');
        counter = rightEdge;
      } else {
        out.push_back('\t');
        counter += tabCells;
      }
    } else {
      // A row holds rightEdge cells: a character wider than that breaks where rows end.
      const TextUnit unit = NextConsoleUnit(text, rightEdge);
      if (unit.cells > 1 && counter > 0 && counter + unit.cells > rightEdge) {
        out += "\n\r";
        counter = 0;
      }
      out.append(text.substr(0, unit.bytes));
      text.remove_prefix(unit.bytes);
      counter += unit.cells;
    }
    if (counter >= rightEdge) {
      out += "\n\r";
      counter = 0;
      lineStartOffset = 0;
    }
  }
  return out;
}

void WritePlain(std::string_view text) {
  ConsoleInfo info;
  if (!QueryConsole(info)) return;
  shownSinceClear.Remember(false, 0, text);
  SetConsoleAttribute(info.attribute);
  WriteConsoleBytes(text);
  SetConsoleAttribute(info.attribute);
  RefreshScreen();
}

void WriteColored(ConsoleAttribute attribute, std::string_view text) {
  ConsoleInfo info;
  if (!QueryConsole(info)) return;
  shownSinceClear.Remember(true, attribute, text);
  SetConsoleAttribute(attribute);
  // A terminal that sets text apart with marks of text has moved the cursor past them.
  ConsoleInfo now = info;
  QueryConsole(now);
  WriteConsoleBytes(WrapColored(text, now.cursorColumn, now.rightEdge));
  SetConsoleAttribute(info.attribute);
  RefreshScreen();
}

void ClearScreen() {
  // Without a question to the console first: reading the cursor's column would make the
  // layer draw what the clear is about to erase.
  if (ClearConsoleWindow()) shownSinceClear.Clear();
}

void DiscardPendingKeys() {
  FlushKeyboardInput();
  waitingSecondCode = -1;
}

int ReadKey() {
  // A waiting second code has no bytes of its own: it is echoed as its glyph.
  KeyPress key;
  int code = waitingSecondCode;
  waitingSecondCode = -1;
  if (code < 0) {
    key = ReadKeyboard();
    // Suspended at the prompt: the shell has written over the report, which is drawn again
    // for the key that answers it.
    while (key.resumed) {
      shownSinceClear.DrawAgain();
      key = ReadKeyboard();
    }
    code = key.code;
    waitingSecondCode = key.secondCode;
  }
  if (code >= 0) EchoKey(code, key);
  return code;
}
