#include "console/console.h"

#include "console/terminal.h"

namespace {

// The second code of a two-code key, until it is read or discarded; -1 when none waits.
int waitingSecondCode = -1;

}  // namespace

void BeginConsole() { BeginTerminal(); }

void EndConsole() { EndTerminal(); }

std::string WrapColored(std::string_view text, int startColumn, int rightEdge) {
  std::string out;
  out.reserve(text.size() + text.size() / 32 + 2);
  int counter = startColumn;
  while (!text.empty()) {
    const char c = text.front();
    if (c == '\a') {
      text.remove_prefix(1);
      continue;
    }
    if (c == '\r' || c == '\n') {
      out.push_back(c);
      text.remove_prefix(1);
      counter = 1;
    } else {
      const TextUnit unit = NextConsoleUnit(text);
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
    }
  }
  return out;
}

void WritePlain(std::string_view text) {
  ConsoleInfo info;
  if (!QueryConsole(info)) return;
  SetConsoleAttribute(info.attribute);
  WriteConsoleBytes(text);
  SetConsoleAttribute(info.attribute);
  RefreshScreen();
}

void WriteColored(ConsoleAttribute attribute, std::string_view text) {
  ConsoleInfo info;
  if (!QueryConsole(info)) return;
  SetConsoleAttribute(attribute);
  WriteConsoleBytes(WrapColored(text, info.cursorColumn, info.rightEdge));
  SetConsoleAttribute(info.attribute);
  RefreshScreen();
}

std::string InertName(std::string_view name) { return InertConsoleText(name); }

void ClearScreen() {
  ConsoleInfo info;
  if (!QueryConsole(info)) return;
  ClearConsoleWindow();
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
    code = key.code;
    waitingSecondCode = key.secondCode;
  }
  if (code >= 0) EchoKey(code, key);
  return code;
}
