// How console text becomes bytes for an ANSI terminal. Pure functions, no I/O.
#ifndef QZ_CONSOLE_TERMINAL_TEXT_H_
#define QZ_CONSOLE_TERMINAL_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "console/console.h"

// The terminal's own default colours stand for the console's default attribute, light grey
// on black (7); SGR 0 restores them.
inline constexpr ConsoleAttribute kDefaultAttribute = 0x07;

// The SGR sequence that selects `attribute`: foreground bits 0-3 and background bits 4-7, with
// red and blue swapped between the console's and the terminal's colour order, and the
// intensity bit choosing the bright colours. 14 is bright yellow on black, 128 black on bright
// black (grey). kDefaultAttribute gives plain SGR 0.
std::string AttributeToSgr(ConsoleAttribute attribute);

// The UTF-8 form of the glyph code page 437 shows for `byte` (control codes as the PC
// console's symbols: 27 is an arrow, 3 a heart).
std::string_view Cp437Glyph(unsigned char byte);

// Turns the byte stream that console code writes into bytes a terminal shows inertly, and
// tracks the cursor column they leave.
//
// No input byte ever reaches the terminal as part of a control sequence. LF goes to the start
// of the next line, CR to the start of this one, TAB to the next multiple of 8 (as blanks), BS
// one column left. Other control bytes and DEL are shown as their code page 437 glyphs. Bytes
// from 128 up pass only as well-formed UTF-8 that encodes no C1 control; every other such byte
// shows as U+FFFD. Every byte but TAB takes at most one cell. A line that reaches the right
// edge continues on the next line, as on the PC console (the filter breaks it itself, so the
// terminal never holds a pending wrap).
class DisplayFilter {
 public:
  // Appends to `out` the terminal bytes for `in`, for a window `width` columns wide.
  // A UTF-8 sequence may be split across calls.
  void Write(std::string_view in, int width, std::string& out);

  // Shows an unfinished UTF-8 sequence as U+FFFD. Called before colours change, before the
  // window is cleared and before a key read, so that no partial character straddles them.
  void Finish(int width, std::string& out);

  int column() const { return column_; }
  void Home() { column_ = 0; }

 private:
  void Put(std::string_view glyph, int cells, int width, std::string& out);
  void PutReplacements(int count, int width, std::string& out);

  unsigned char pending_[4] = {};
  int pendingLength_ = 0;
  int expectedLength_ = 0;
  int column_ = 0;
};

#endif  // QZ_CONSOLE_TERMINAL_TEXT_H_
