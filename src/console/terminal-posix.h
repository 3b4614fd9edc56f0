// What the three parts of the POSIX terminal share: the modes and the signal handlers that
// put the terminal back (terminal-posix.cc), the screen output (terminal_screen-posix.cc) and
// the keyboard (terminal_keys-posix.cc). POSIX builds only; nothing outside these files
// includes it.
#ifndef QZ_CONSOLE_TERMINAL_POSIX_H_
#define QZ_CONSOLE_TERMINAL_POSIX_H_

#include <signal.h>

#include <cerrno>
#include <csignal>
#include <string_view>

#include "console/terminal_text.h"

namespace posix_terminal {

// State the signal handlers share with the rest. Outside the handlers it is changed only with
// the handled signals blocked (see HandlersHeldOff).
extern volatile std::sig_atomic_t coloursMayBeSet;  // the terminal may show colours of ours
extern volatile std::sig_atomic_t coloursReset;     // a handler reset the colours behind the writers
extern volatile std::sig_atomic_t widthChanged;     // the window may have a new width
// The process was stopped during a key read and has been continued: the shell has written over
// the screen since.
extern volatile std::sig_atomic_t resumedInKeyRead;
// Standard output's terminal, which a handler opens for a descriptor of its own ("" when
// standard output is none).
extern char terminalPath[256];
// What puts the terminal's own colours and attributes back ("" where none are ever changed);
// set once, before the handlers are installed.
extern const char* volatile resetSequence;
// The terminal's cursor stands past the start of its line, as far as the screen has passed
// output on: a handler that stops the process ends the line first, so that the shell's job
// message stands on a line of its own.
extern volatile std::sig_atomic_t cursorPastLineStart;

// Calls `call` again for as long as it fails with EINTR, and gives its last result.
template <typename Call>
auto RetryOnInterrupt(Call call) {
  decltype(call()) result;
  do result = call();
  while (result < 0 && errno == EINTR);
  return result;
}

// Installs, once, the handlers that put the terminal back when a signal ends or stops the
// process and take the modes again when it is continued.
void InstallSignalHandlers();

// Keeps the handlers from running while the state they read is changed.
class HandlersHeldOff {
 public:
  HandlersHeldOff();
  ~HandlersHeldOff();
  HandlersHeldOff(const HandlersHeldOff&) = delete;
  HandlersHeldOff& operator=(const HandlersHeldOff&) = delete;

 private:
  sigset_t previous_;
};

// A descriptor on the controlling terminal for one task: the standard one when it serves, else
// /dev/tty, opened for the task and closed after it, so that between key reads the walk has
// every descriptor the process may have. Invalid when there is no controlling terminal or no
// free descriptor; the next task tries again.
class TerminalHandle {
 public:
  enum class Use { kModes, kRead, kWrite };
  explicit TerminalHandle(Use use);
  ~TerminalHandle();
  TerminalHandle(const TerminalHandle&) = delete;
  TerminalHandle& operator=(const TerminalHandle&) = delete;

  bool valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  bool owned_ = false;
};

// The raw mode for the span of one key read on `fd`; on every way out the quiet mode comes
// back, or outside a console session the mode found before the read. Until Waiting() flow
// control stays on, so that output the user holds with Ctrl+S stays held.
class RawMode {
 public:
  explicit RawMode(int fd);
  ~RawMode();
  void Waiting();
  // Sets the mode again where someone else has changed it behind our back (a shell that
  // brought the job back without continuing it, or a burst of stops and continues that left
  // the shell's mode behind). Only in the foreground.
  void Check();
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;

 private:
  int fd_;
};

// What the terminal named `term` (the TERM variable; null or "" when unset) can do, from its
// terminfo entry. A name without an entry gives the description of `dumb`: no colours, no
// clear, no cursor movement.
TerminalDescription DescribeTerminal(const char* term);

// Whether another job has the terminal `fd` in the foreground (false for a terminal that is
// not the controlling one, which has no jobs).
bool InBackground(int fd);

// Waits, stopped, until this job has the terminal `fd` in the foreground again, as a read from
// the background would: the job stops, and the shell's `fg` continues it. Where stopping is
// not possible (a process group no shell looks after), looks again every so often. Returns
// whether it had to wait.
bool WaitForForeground(int fd);

// The screen's side, for the modes and the keyboard.
bool OutputIsTerminal();  // standard output is a terminal (set up on the first call)
void ShowAllOutput();     // everything written reaches the terminal now

}  // namespace posix_terminal

#endif  // QZ_CONSOLE_TERMINAL_POSIX_H_
