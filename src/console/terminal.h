// Platform seam under the console writers and the key reader. One implementation per
// platform; nothing above this header knows which one it runs on.
#ifndef QZ_CONSOLE_TERMINAL_H_
#define QZ_CONSOLE_TERMINAL_H_

#include <string_view>

#include "console/console.h"

struct ConsoleInfo {
  ConsoleAttribute attribute;  // the colours text is written in now
  int cursorColumn;            // zero-based
  int rightEdge;               // zero-based index of the rightmost visible column
};

// Reads the state of the console on standard output, afresh on every call. Returns false,
// leaving `info` untouched, when standard output is not a console.
bool QueryConsole(ConsoleInfo& info);

// Only meaningful after QueryConsole has returned true.
//
// The layer may hold output back, for a moment at most: FlushConsole, which every writer
// calls once at its end, passes on what has been held for long enough. Output still held when
// the window is cleared may be dropped, since the clear would erase it. Before ReadKeyboard
// waits, and when the process exits, everything written is shown.
void SetConsoleAttribute(ConsoleAttribute attribute);
void WriteConsoleBytes(std::string_view bytes);
void FlushConsole();
void ClearConsoleWindow();

// Drops the keyboard's waiting input.
void FlushKeyboardInput();

// Reads one key press from the user's keyboard (even when standard input is redirected) with
// line input, echo and interrupt keys off for the read, and the previous mode restored after
// it. Returns the first code, and stores in `secondCode` the second code of a two-code key or
// -1. Returns -1 when there is no keyboard to read. Does not echo.
int ReadKeyboard(int& secondCode);

// Shows the key code `code` at the cursor on the keyboard's own console, also when standard
// output is redirected.
void EchoKey(int code);

#endif  // QZ_CONSOLE_TERMINAL_H_
