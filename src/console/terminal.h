// Platform seam under the console writers and the key reader. One implementation per
// platform; nothing above this header knows which one it runs on.
#ifndef QZ_CONSOLE_TERMINAL_H_
#define QZ_CONSOLE_TERMINAL_H_

#include <string>
#include <string_view>

#include "console/console_attribute.h"
#include "console/terminal_text.h"

struct ConsoleInfo {
  ConsoleAttribute attribute;  // the colours text is written in now
  int cursorColumn;            // zero-based
  int rightEdge;               // zero-based index of the rightmost visible column
};

// The console's modes for the run (see BeginConsole and EndConsole in console.h).
void BeginTerminal();
void EndTerminal();

// Reads the state of the console on standard output, afresh on every call. Returns false,
// leaving `info` untouched, when standard output is not a console.
bool QueryConsole(ConsoleInfo& info);

// Whether standard output is a console, for the whole run: when it is not, QueryConsole
// returns false on every call.
bool OutputIsConsole();

// Whether there may be a keyboard to read: false once it is known that the process has none
// and will have none for the rest of the run (POSIX: no controlling terminal; Windows: no
// console input), so that ReadKeyboard returns code -1 at once on every call.
bool KeyboardExists();

// Only meaningful after QueryConsole has returned true.
//
// The layer may hold output back, for a moment at most: RefreshScreen (console.h), which every
// writer calls once at its end, passes on what has been held for long enough. Output still
// held when the window is cleared may be dropped, since the clear would erase it. Before
// ReadKeyboard waits, and at EndTerminal, everything written is shown.
void SetConsoleAttribute(ConsoleAttribute attribute);
void WriteConsoleBytes(std::string_view bytes);

// Clears the window and puts the cursor at the top left; may be called without QueryConsole.
// Returns false, doing nothing, when standard output is not a console.
bool ClearConsoleWindow();

// The first character of the non-empty `text` as the console shows it: its bytes and the
// cells it takes, for WrapColored's counter. A character of several code points wider than
// `maxCells` gives its first code point only.
TextUnit NextConsoleUnit(std::string_view text, int maxCells);

// The cells a TAB written at the cursor's column `column` takes, for WrapColored's counter: to
// the next multiple of 8 on a terminal; one in the Windows console's own count.
int ConsoleTabCells(int column);

// Drops the keyboard's waiting input.
void FlushKeyboardInput();

// One key press as the keyboard gave it.
struct KeyPress {
  int code = -1;        // 1-255; -1 when there is no keyboard to read
  int secondCode = -1;  // the second code of a two-code key, else -1
  std::string typed;    // the bytes that made the key, where the platform sees bytes
  // The process was suspended during the read and has been continued (POSIX job control):
  // nothing was read, and the screen may have been written over by others meanwhile.
  bool resumed = false;
};

// Reads one key press from the user's keyboard (even when standard input is redirected) with
// line input, echo and interrupt keys off for the read. Returns code -1 when there is no
// keyboard to read, or when the read was cut short by a suspension (see KeyPress::resumed).
// Does not echo.
KeyPress ReadKeyboard();

// Shows the key code `code` of `key` at the cursor on the keyboard's own console, also when
// standard output is redirected.
void EchoKey(int code, const KeyPress& key);

#endif  // QZ_CONSOLE_TERMINAL_H_
