#include "console/console.h"

#include "console/terminal.h"

namespace {

// The second code of a two-code key, until it is read or discarded; -1 when none waits.
int waitingSecondCode = -1;

}  // namespace

std::string WrapColored(std::string_view text, int startColumn, int rightEdge) {
  std::string out;
  out.reserve(text.size() + text.size() / 32 + 2);
  int counter = startColumn;
  for (char c : text) {
    if (c == '\a') continue;
    out.push_back(c);
    counter = (c == '\r' || c == '\n') ? 1 : counter + 1;
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
  FlushConsole();
}

void WriteColored(ConsoleAttribute attribute, std::string_view text) {
  ConsoleInfo info;
  if (!QueryConsole(info)) return;
  SetConsoleAttribute(attribute);
  WriteConsoleBytes(WrapColored(text, info.cursorColumn, info.rightEdge));
  SetConsoleAttribute(info.attribute);
  FlushConsole();
}

void ClearScreen() {
  ConsoleInfo info;
  if (!QueryConsole(info)) return;
  ClearConsoleWindow();
}

void RefreshScreen() { FlushConsole(); }

void DiscardPendingKeys() {
  FlushKeyboardInput();
  waitingSecondCode = -1;
}

int ReadKey() {
  int code = waitingSecondCode;
  waitingSecondCode = -1;
  if (code < 0) code = ReadKeyboard(waitingSecondCode);
  if (code >= 0) EchoKey(code);
  return code;
}
