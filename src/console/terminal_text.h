// How console text becomes bytes for an ANSI terminal. Pure functions, no I/O.
#ifndef QZ_CONSOLE_TERMINAL_TEXT_H_
#define QZ_CONSOLE_TERMINAL_TEXT_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/console_attribute.h"

// The terminal's own default colours stand for the console's default attribute, light grey
// on black (7); SGR 0 restores them.
inline constexpr ConsoleAttribute kDefaultAttribute = 0x07;

// What puts a terminal's colours and attributes back, where its description names nothing else.
inline constexpr char kPlainSgr[] = "\x1b[0m";

// The SGR sequence that selects `attribute`: foreground bits 0-3 and background bits 4-7, with
// red and blue swapped between the console's and the terminal's colour order, and the
// intensity bit choosing the bright colours. 14 is bright yellow on black, 128 black on bright
// black (grey). kDefaultAttribute gives plain SGR 0.
std::string AttributeToSgr(ConsoleAttribute attribute);

// What a terminal's description (its terminfo entry) says it can do, as far as the writers
// care. Sequences are ready to write: parameters filled in, padding dropped.
struct TerminalDescription {
  std::string name = "dumb";  // the name the description was found under
  int colours = -1;           // the colours it lists; -1 or 0 when it lists none
  std::string clear;          // homes the cursor and clears the window; "" when it cannot
  std::string scrollForward;  // moves down a line, scrolling at the bottom; "" when it cannot
  std::string reverse;        // reverse video, else standout; "" when it has neither
  std::string plain;          // turns every attribute off; "" when it has no such sequence
};

// How the console's attributes reach a terminal, chosen once from its description:
// - kSixteenColours (8 to 255 colours listed): the SGR codes of the 16 PC colours (AttributeToSgr);
//   most such terminals show the bright ones though their entries list 8;
// - k256Colours: the same, but black and grey are fixed colours of the 256-colour set (16,
//   #000000, and 244, #808080), so that black on grey reads whatever the terminal's palette
//   makes of its first 16 colours;
// - kConsoleColours (the Linux console, which takes bright backgrounds for dark ones): a bright
//   background becomes its dark one, and grey becomes light grey (47);
// - kReverse (no colours, or NO_COLOR): text on a background other than black is set apart in
//   reverse video (or standout), everything else is plain;
// - kMarks (neither colours nor reverse video, as `dumb`): no escape sequence at all; text set
//   apart is written between kMarkOpen and kMarkClose, as text the user reads.
class TerminalStyle {
 public:
  enum class Kind { kSixteenColours, k256Colours, kConsoleColours, kReverse, kMarks };
  static constexpr std::string_view kMarkOpen = ">>";
  static constexpr std::string_view kMarkClose = "<<";

  TerminalStyle() = default;  // kSixteenColours, with the ANSI clear
  // `noColour`: the user asked for none (NO_COLOR set and not empty).
  static TerminalStyle For(const TerminalDescription& description, bool noColour);

  Kind kind() const { return kind_; }
  // The sequence that selects `attribute` ("" where the terminal is sent none).
  std::string Select(ConsoleAttribute attribute) const;
  // Puts the terminal's own attributes back; "" where none is ever changed.
  const std::string& reset() const { return reset_; }
  // The text kMarks writes between text in `from` and text in `to`; "" for the other kinds.
  std::string_view MarkBetween(ConsoleAttribute from, ConsoleAttribute to) const;
  // Whether text in `attribute` is set apart from ordinary text: a background other than black.
  static bool SetApart(ConsoleAttribute attribute) { return (attribute & 0xF0) != 0; }

  // Clears the window and homes the cursor; "" where the terminal cannot.
  const std::string& clear() const { return clear_; }
  const std::string& scrollForward() const { return scrollForward_; }

 private:
  Kind kind_ = Kind::kSixteenColours;
  std::string reset_ = kPlainSgr;
  std::string reverse_;
  std::string clear_ = "\x1b[H\x1b[2J";
  std::string scrollForward_ = "\n";
};

// The UTF-8 form of the glyph code page 437 shows for `byte` (control codes as the PC
// console's symbols: 27 is an arrow, 3 a heart).
std::string_view Cp437Glyph(unsigned char byte);

// The character set the terminal reads its bytes in: UTF-8, or a set of one byte per
// character. In such a set a byte from 0x80 up is written only where `printable` says that the
// set shows it as a character of its own; bytes 0x80-0x9F never are (an 8-bit terminal takes
// them for C1 controls). The C locale's set shows no byte from 0x80 up.
struct TerminalCharset {
  bool utf8 = true;
  std::array<bool, 256> printable = {};  // for the one-byte sets; 0x20-0x7E always are
};

// A one-byte set that shows, beyond ASCII, each byte for which `shows` is true (and that is
// not in 0x80-0x9F).
template <typename Shows>
TerminalCharset OneByteCharset(Shows shows) {
  TerminalCharset set;
  set.utf8 = false;
  for (int b = 0x20; b < 0x7F; ++b) set.printable[b] = true;
  for (int b = 0xA0; b <= 0xFF; ++b) set.printable[b] = shows(static_cast<unsigned char>(b));
  return set;
}

// What the terminal shows for the control byte or console symbol `byte` (its code page 437
// glyph): that glyph in UTF-8, and '?', the 7-bit stand-in, in any other set.
std::string_view SymbolFor(unsigned char byte, const TerminalCharset& charset);

// One character of console text as the display filter shows it: the bytes it takes and the
// cells it fills.
struct TextUnit {
  std::size_t bytes;
  int cells;
};

// The first character of the non-empty `text` as DisplayFilter shows it, so that a wrap
// counted with it agrees with the filter's own: one user-perceived character (a base with its
// combining marks, an emoji sequence; Unicode's grapheme clusters), with the cells the
// terminal gives its code points (a wide character 2, a combining mark 0, a character shown as
// U+FFFD 1 for each U+FFFD). A byte that is not part of well-formed UTF-8 counts alone, as one
// cell; a byte below 128 is itself or its glyph (TAB counts one here, as in the console's own
// wrap); CR, LF and BEL are the caller's. A character wider than `maxCells` (what a row
// holds), which no row holds whole, gives its first code point only.
TextUnit NextShownUnit(std::string_view text, int maxCells);

// The first character of the non-empty `text` in a code page of one- and two-byte characters
// whose lead bytes `isLeadByte` tells: a lead byte and the byte after it are one character of
// two cells, so that a wrap never breaks between them; any other byte is one of one cell.
TextUnit CodePageUnit(std::string_view text, bool (*isLeadByte)(unsigned char byte));

// Turns the byte stream that console code writes into bytes a terminal shows inertly, and
// tracks the cursor column they leave. What follows is for a UTF-8 terminal; for a one-byte
// character set, every byte the set shows as a character is written as it is, in one cell,
// and every other byte (and every symbol, such as a control byte's glyph) as '?', so that
// nothing but ASCII and the set's printable bytes reaches the terminal.
//
// No input byte ever reaches the terminal as part of a control sequence. LF goes to the start
// of the next line, CR to the start of this one, TAB to the next multiple of 8 (as blanks), BS
// one column left. Other control bytes and DEL are shown as their code page 437 glyphs. Bytes
// from 128 up pass only as well-formed UTF-8 that encodes no C1 control; every other such byte
// shows as U+FFFD, and so do the bidirectional controls (U+061C, U+200E, U+200F, U+202A-U+202E,
// U+2066-U+2069) and the line and paragraph separators (U+2028, U+2029), one U+FFFD for each.
// Characters take the cells CellWidth gives them. A line that reaches the right edge continues
// on the next line, as on the PC console (the filter breaks it itself, so the terminal never
// holds a pending wrap), and a wide character that would straddle the edge starts that line.
// A user-perceived character (a base and its marks, an emoji sequence) is never broken across
// lines, unless it is wider than the window.
class DisplayFilter {
 public:
  explicit DisplayFilter(const TerminalCharset& charset = TerminalCharset()) : charset_(charset) {}

  // Appends to `out` the terminal bytes for `in`, for a window `width` columns wide.
  // A UTF-8 sequence, and a character of several code points, may be split across calls: the
  // last character stays gathered until the next call shows whether it goes on, or until
  // EndCharacter or Finish.
  void Write(std::string_view in, int width, std::string& out);

  // Puts the character being gathered, once a writer's text is complete.
  void EndCharacter(int width, std::string& out) { FlushCluster(width, out); }

  // Shows an unfinished UTF-8 sequence as U+FFFD and puts the character being gathered.
  // Called before colours change, before the window is cleared and before a key read, so that
  // no partial character straddles them.
  void Finish(int width, std::string& out);

  // Where the cursor stands once the character being gathered is put.
  int column() const;
  void Home() { column_ = 0; }

 private:
  // The column after `cells` more cells from `column`, with the breaks Put makes.
  static int Advance(int column, int cells, int width);
  void Put(std::string_view glyph, int cells, int width, std::string& out);
  void PutReplacements(int count, int width, std::string& out);
  void WriteOneByteSet(std::string_view in, int width, std::string& out);
  void MoveCursor(unsigned char byte, int width, std::string& out);
  // Adds a code point, drawn as `glyph`, to the character being gathered; a code point that
  // starts a new character puts the gathered one first.
  void Emit(char32_t cp, std::string_view glyph, int cells, int width, std::string& out);
  void FlushCluster(int width, std::string& out);

  struct Piece {
    std::size_t end;  // in cluster_
    int cells;
  };
  std::string cluster_;  // the character being gathered, as drawn
  std::vector<Piece> pieceEnds_;
  int clusterCells_ = 0;
  char32_t clusterLast_ = 0;
  int graphemeState_ = 0;
  int lastWidth_ = 1;

  TerminalCharset charset_;
  unsigned char pending_[4] = {};
  int pendingLength_ = 0;
  int expectedLength_ = 0;
  int column_ = 0;
};

#endif  // QZ_CONSOLE_TERMINAL_TEXT_H_
