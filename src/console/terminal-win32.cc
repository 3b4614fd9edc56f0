// The console on Windows, through the console functions: attributes and text go to the
// screen buffer on standard output, keys come from the console's input buffer (CONIN$).
//
// Virtual-terminal processing stays off (it is switched off for the run should the console
// have it on), so that escape sequences in file text are never acted on; control bytes are
// shown as the classic console's glyphs (see WriteShown).
#include "console/terminal.h"

#include <windows.h>

#include "console/key_codes.h"
#include "console/owned_handle-win32.h"
#include "console/terminal_text.h"

namespace {

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

constexpr DWORD kWriteChunk = 8192;  // old consoles refuse very large single writes

// Standard output when it is a console, with what the run changed about it.
struct Screen {
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool isConsole = false;
  DWORD modeToRestore = 0;
  bool restoreMode = false;
  WORD startAttribute = 0;
  // What the last ClearConsoleWindow left: a blank buffer of this size in this attribute.
  bool cleared = false;
  COORD clearedSize = {0, 0};
  WORD clearedAttribute = 0;

  Screen();
  ~Screen() { Restore(); }
  Screen(const Screen&) = delete;
  Screen& operator=(const Screen&) = delete;

  void Restore() const {
    if (!isConsole) return;
    if (restoreMode) SetConsoleMode(handle, modeToRestore);
  }
};

Screen* theScreen = nullptr;

// Puts the console's mode and colours back when the run is ended by Ctrl+Break, Ctrl+C while
// working, or the window closing; the default handler then ends the process.
BOOL WINAPI OnConsoleControl(DWORD) {
  if (theScreen && theScreen->isConsole) {
    SetConsoleTextAttribute(theScreen->handle, theScreen->startAttribute);
    theScreen->Restore();
  }
  return FALSE;
}

Screen::Screen() {
  handle = GetStdHandle(STD_OUTPUT_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
      !GetConsoleScreenBufferInfo(handle, &info))
    return;
  isConsole = true;
  startAttribute = info.wAttributes;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode) && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
    modeToRestore = mode;
    restoreMode = SetConsoleMode(handle, mode & ~DWORD{ENABLE_VIRTUAL_TERMINAL_PROCESSING});
  }
  theScreen = this;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

Screen& TheScreen() {
  static Screen screen;
  return screen;
}

// A handle on a console device ("CONIN$", "CONOUT$"), opened on first use and kept for the
// run. Invalid when the process has no console.
using ConsoleDevice = FileHandle;

HANDLE OpenConsoleDevice(const char* name) {
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
}

ConsoleDevice& Keyboard() {
  static ConsoleDevice keyboard(OpenConsoleDevice("CONIN$"));
  return keyboard;
}

ConsoleDevice& KeyboardScreen() {
  static ConsoleDevice screen(OpenConsoleDevice("CONOUT$"));
  return screen;
}

// Raw input for the span of one read: no line input, no echo, Ctrl+C as a key. The previous
// mode comes back on every way out.
class RawInput {
 public:
  explicit RawInput(HANDLE input) : input_(input) {
    if (GetConsoleMode(input_, &saved_)) active_ = SetConsoleMode(input_, 0) != 0;
  }
  ~RawInput() {
    if (active_) SetConsoleMode(input_, saved_);
  }
  RawInput(const RawInput&) = delete;
  RawInput& operator=(const RawInput&) = delete;
  bool active() const { return active_; }

 private:
  HANDLE input_;
  DWORD saved_ = 0;
  bool active_ = false;
};

bool IsModifierOrLock(WORD virtualKey) {
  switch (virtualKey) {
    case VK_SHIFT: case VK_CONTROL: case VK_MENU: case VK_CAPITAL: case VK_NUMLOCK:
    case VK_SCROLL: case VK_LWIN: case VK_RWIN: case VK_APPS:
      return true;
    default:
      return false;
  }
}

// The second code of a key without a character: its PC scan code, with F11 and F12 given
// the codes the PC keyboard routines use for them.
int SecondCodeOf(const KEY_EVENT_RECORD& key) {
  switch (key.wVirtualScanCode) {
    case 0x57: return kF11SecondCode;
    case 0x58: return kF12SecondCode;
    default: return key.wVirtualScanCode;
  }
}

void WriteAllTo(HANDLE console, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD ask = bytes.size() < kWriteChunk ? static_cast<DWORD>(bytes.size()) : kWriteChunk;
    DWORD written = 0;
    if (!WriteConsoleA(console, bytes.data(), ask, &written, nullptr) || written == 0) return;
    bytes.remove_prefix(written);
  }
}

// Whether the console is left to act on `byte` itself: bell, backspace, tab, line feed and
// carriage return, which processed output handles, and every byte that is no control code.
bool ConsoleActsOn(unsigned char byte) {
  if (byte == 0x7F) return false;
  return byte >= 0x20 || byte == '\a' || byte == '\b' || byte == '\t' || byte == '\n' ||
         byte == '\r';
}

// Writes `bytes` in the console's code page, except that any other control byte is written as
// the glyph the classic console shows for it. The picture is the same; the difference is that
// a console which passes cells on to a terminal (a pseudo-console, Wine's console on a
// terminal) never hands file text to the terminal as a control sequence.
void WriteShown(HANDLE console, std::string_view bytes) {
  std::size_t run = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (ConsoleActsOn(byte)) continue;
    WriteAllTo(console, bytes.substr(run, i - run));
    run = i + 1;
    const std::string_view glyph = Cp437Glyph(byte);
    wchar_t wide[4];
    const int n = MultiByteToWideChar(CP_UTF8, 0, glyph.data(), static_cast<int>(glyph.size()),
                                      wide, 4);
    DWORD written = 0;
    if (n > 0) WriteConsoleW(console, wide, static_cast<DWORD>(n), &written, nullptr);
  }
  WriteAllTo(console, bytes.substr(run));
}

}  // namespace

bool QueryConsole(ConsoleInfo& info) {
  Screen& screen = TheScreen();
  if (!screen.isConsole) return false;
  CONSOLE_SCREEN_BUFFER_INFO buffer;
  if (!GetConsoleScreenBufferInfo(screen.handle, &buffer)) return false;
  info.attribute = buffer.wAttributes;
  info.cursorColumn = buffer.dwCursorPosition.X;
  info.rightEdge = buffer.srWindow.Right;
  return true;
}

bool OutputIsConsole() { return TheScreen().isConsole; }

// The console input is opened once, for the run.
bool KeyboardExists() { return Keyboard().valid(); }

void SetConsoleAttribute(ConsoleAttribute attribute) {
  SetConsoleTextAttribute(TheScreen().handle, attribute);
}

void WriteConsoleBytes(std::string_view bytes) { WriteShown(TheScreen().handle, bytes); }

void RefreshScreen() {}  // console writes are not held back

void BeginTerminal() { TheScreen(); }

void EndTerminal() { TheScreen().Restore(); }

// The console shows each byte of its output code page in one cell, and a two-byte character
// of a code page such as 932 in two, which must stay together on one row.
// Asked afresh, since `chcp` may change the code page while qz runs; ASCII bytes are never
// lead bytes.
bool IsConsoleLeadByte(unsigned char byte) {
  return byte >= 0x80 && IsDBCSLeadByteEx(GetConsoleOutputCP(), byte) != 0;
}

TextUnit NextConsoleUnit(std::string_view text, int) {
  return CodePageUnit(text, IsConsoleLeadByte);
}

int ConsoleTabCells(int) { return 1; }

// Names on Windows hold no control bytes (the file system refuses them), and WriteShown shows
// every control byte the console would not act on as its glyph.
std::string_view InertText(std::string_view text, std::string&) { return text; }

bool ClearConsoleWindow() {
  Screen& screen = TheScreen();
  CONSOLE_SCREEN_BUFFER_INFO buffer;
  if (!screen.isConsole || !GetConsoleScreenBufferInfo(screen.handle, &buffer)) return false;
  // The first clear blanks the whole buffer. Text only ever moves the cursor right and down,
  // so after that, the rows down to the cursor's are all a clear needs to blank, as long as
  // the buffer's size and the colours stay the same.
  SHORT rows = buffer.dwSize.Y;
  if (screen.cleared && buffer.dwSize.X == screen.clearedSize.X &&
      buffer.dwSize.Y == screen.clearedSize.Y && buffer.wAttributes == screen.clearedAttribute &&
      buffer.dwCursorPosition.Y < rows)
    rows = static_cast<SHORT>(buffer.dwCursorPosition.Y + 1);
  const DWORD cells = static_cast<DWORD>(buffer.dwSize.X) * static_cast<DWORD>(rows);
  const COORD home = {0, 0};
  DWORD done = 0;
  FillConsoleOutputCharacterA(screen.handle, ' ', cells, home, &done);
  FillConsoleOutputAttribute(screen.handle, buffer.wAttributes, cells, home, &done);
  SetConsoleCursorPosition(screen.handle, home);
  screen.cleared = true;
  screen.clearedSize = buffer.dwSize;
  screen.clearedAttribute = buffer.wAttributes;
  return true;
}

void FlushKeyboardInput() {
  ConsoleDevice& keyboard = Keyboard();
  if (keyboard.valid()) FlushConsoleInputBuffer(keyboard.get());
}

KeyPress ReadKeyboard() {
  KeyPress key;
  ConsoleDevice& keyboard = Keyboard();
  if (!keyboard.valid()) return key;
  RawInput raw(keyboard.get());
  for (;;) {
    INPUT_RECORD record;
    DWORD count = 0;
    if (!ReadConsoleInputA(keyboard.get(), &record, 1, &count) || count == 0) return key;
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
    const KEY_EVENT_RECORD& event = record.Event.KeyEvent;
    const auto character = static_cast<unsigned char>(event.uChar.AsciiChar);
    if (character != 0) {
      key.code = character;
      key.typed.assign(1, static_cast<char>(character));
      return key;
    }
    // Some consoles (Wine's on a terminal) give Esc without its character.
    if (event.wVirtualKeyCode == VK_ESCAPE) {
      key.code = kEscKey;
      return key;
    }
    if (IsModifierOrLock(event.wVirtualKeyCode) || event.wVirtualScanCode == 0) continue;
    // A key without a character: the grey keys of the extended keyboard give 224, the others
    // (function keys, the number pad with Num Lock off) 0; the second code follows at once.
    key.secondCode = SecondCodeOf(event);
    key.code = (event.dwControlKeyState & ENHANCED_KEY) ? kTwoCodeKey : 0;
    return key;
  }
}

void EchoKey(int code, const KeyPress&) {
  ConsoleDevice& screen = KeyboardScreen();
  if (!screen.valid()) return;
  const char shown = static_cast<char>(code);
  WriteShown(screen.get(), std::string_view(&shown, 1));
}
