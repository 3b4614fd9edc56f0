// Every character the tool shows and every key it reads passes through here.
//
// The writers talk to the console (terminal) on standard output. When standard output is not
// one, they write nothing at all; key reads still wait on the user's keyboard.
#ifndef QZ_CONSOLE_CONSOLE_H_
#define QZ_CONSOLE_CONSOLE_H_

#include <string>
#include <string_view>

#include "console/console_attribute.h"

// The run's console: BeginConsole takes the keyboard's modes for the run (keys typed while the
// tool works are neither echoed nor gathered into lines; interrupt keys still act) and puts the
// terminal back whenever a signal ends or suspends the process; EndConsole shows everything
// still held back and gives the previous modes back. The driver holds a ConsoleSession for the
// whole run. Writers and key reads work without one; the modes are then taken for each key
// read only.
void BeginConsole();
void EndConsole();

class ConsoleSession {
 public:
  ConsoleSession() { BeginConsole(); }
  ~ConsoleSession() { EndConsole(); }
  ConsoleSession(const ConsoleSession&) = delete;
  ConsoleSession& operator=(const ConsoleSession&) = delete;
};

// Writes `text` in the console's current colours, as one write. The console interprets line
// feeds (start of the next line) and carriage returns (start of this line) and wraps long
// lines on its own.
void WritePlain(std::string_view text);

// Writes `text` in `attribute`, wrapping it with the tool's own column counter (see
// WrapColored), then puts back the colours that were current before.
void WriteColored(ConsoleAttribute attribute, std::string_view text);

// `text` (a path, the search text) as the writers should be given it so that it shows on one
// line as it is and cannot move the cursor: every control byte, CR, LF, BS and TAB included,
// becomes the symbol the console shows for it (its code page 437 glyph on a UTF-8 terminal,
// '?' in another character set). Windows: paths hold no control bytes, and the console
// writers show every control byte but CR, LF, TAB, BS and BEL as its glyph themselves.
// Returns `text` itself when it needs no change, else the changed text, built in `scratch`.
std::string_view InertText(std::string_view text, std::string& scratch);
inline std::string InertText(std::string_view text) {
  std::string scratch;
  return std::string(InertText(text, scratch));
}

// Whether no one can see or answer the tool for the whole run: standard output is not a
// console, so the writers write nothing, and there is no keyboard, so every ReadKey returns -1
// at once without an echo. A caller may then leave out what it would write and ask.
bool ConsoleUnattended();

// Clears the window and puts the cursor at the top left.
void ClearScreen();

// Output may be held back for a moment, so that a walk over many files does not redraw the
// terminal once per file; whenever the tool waits for a key, and at EndConsole, the screen
// shows everything written. RefreshScreen passes on what has been held for longer than that
// moment (50 ms): every writer calls it, and long work and the walk call it at least once per
// slice or entry, so the screen never lags far behind, also while nothing is written. Cheap to
// call often.
void RefreshScreen();

// Drops every key press already waiting, so that only a key pressed afterwards is read.
void DiscardPendingKeys();

// Waits for one key press and echoes it. Returns the key's code 1-255 (Enter is 13, Esc 27,
// Ctrl+C 3); a key without a character (arrows, function and editing keys) returns 224 and
// leaves a second code waiting, which DiscardPendingKeys drops. Returns -1 at once when there
// is no keyboard to read. The suspend key (Ctrl+Z) still suspends during the wait; when the
// process is continued, the window is cleared and everything the writers put on it since the
// last ClearScreen is written again, and the wait goes on.
int ReadKey();

// The bytes WriteColored hands to the console for `text` when the cursor stands at
// `startColumn` and the rightmost visible column is `rightEdge`. Bell bytes (7) are dropped.
// CR and LF restart the count at 1; every other character counts the cells the console gives
// it (on a UTF-8 terminal a character is what the user sees as one: a base with its combining
// marks, an emoji sequence; it takes the cells of its code points, 0 to 2 each, a byte shown as
// U+FFFD or as a glyph and TAB one; in a code-page console every byte one). Once the count
// reaches `rightEdge`, "\n\r" follows and the count restarts at 0, and a character of two cells
// or more that would pass `rightEdge` goes after such a break instead. A character is never
// split, unless it is wider than the window. So in an 80-column
// window a run of ASCII starting at column 0 breaks after 79 bytes, and the console never
// wraps it.
std::string WrapColored(std::string_view text, int startColumn, int rightEdge);

#endif  // QZ_CONSOLE_CONSOLE_H_
