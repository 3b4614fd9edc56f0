// Every character the tool shows and every key it reads passes through here.
//
// The writers talk to the console (terminal) on standard output. When standard output is not
// one, they write nothing at all; key reads still wait on the user's keyboard.
#ifndef QZ_CONSOLE_CONSOLE_H_
#define QZ_CONSOLE_CONSOLE_H_

#include <cstdint>
#include <string>
#include <string_view>

// Console character attributes: foreground colour in bits 0-3 (blue, green, red, intensity),
// background colour in bits 4-7, the same layout as the classic PC text console.
using ConsoleAttribute = std::uint16_t;

// Writes `text` in the console's current colours, as one write. The console interprets line
// feeds (start of the next line) and carriage returns (start of this line) and wraps long
// lines on its own.
void WritePlain(std::string_view text);

// Writes `text` in `attribute`, wrapping it with the tool's own column counter (see
// WrapColored), then puts back the colours that were current before.
void WriteColored(ConsoleAttribute attribute, std::string_view text);

// Clears the window and puts the cursor at the top left.
void ClearScreen();

// Output may be held back for a moment, so that a walk over many files does not redraw the
// terminal once per file; whenever the tool waits for a key or exits, the screen shows
// everything written. RefreshScreen passes on what has been held for longer than that moment:
// long work calls it now and then, so the screen never lags far behind. Cheap to call often.
void RefreshScreen();

// Drops every key press already waiting, so that only a key pressed afterwards is read.
void DiscardPendingKeys();

// Waits for one key press and echoes it. Returns the key's code 1-255 (Enter is 13, Esc 27,
// Ctrl+C 3); a key without a character (arrows, function and editing keys) returns 224 and
// leaves a second code waiting, which DiscardPendingKeys drops. Returns -1 at once when there
// is no keyboard to read.
int ReadKey();

// The bytes WriteColored hands to the console for `text` when the cursor stands at
// `startColumn` and the rightmost visible column is `rightEdge`. Bell bytes (7) are dropped.
// Every other byte counts one column, except that CR and LF restart the count at 1; once the
// count reaches `rightEdge`, "\n\r" follows and the count restarts at 0. So in an 80-column
// window a run starting at column 0 breaks after 79 bytes, and the console never wraps it.
std::string WrapColored(std::string_view text, int startColumn, int rightEdge);

#endif  // QZ_CONSOLE_CONSOLE_H_
