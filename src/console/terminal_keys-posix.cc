// The keyboard of a POSIX terminal: one key press read in the raw mode, decoded from the bytes
// the terminal sends for it.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "console/key_decoder.h"
#include "console/terminal-posix.h"
#include "console/terminal.h"

namespace posix_terminal {
namespace {

constexpr int kEscTimeoutMs = 25;

// Bytes of keys that came in one burst after the key returned.
std::string& UnreadKeys() {
  static std::string unread;
  return unread;
}

// How often a wait for a key looks that the job still has the terminal, in the mode it needs.
constexpr int kModeCheckMs = 200;

enum class Arrival { kBytes, kNothing, kResumed, kFailed };

// Appends what arrives within `timeoutMs` (-1: however long it takes). kResumed when the process
// was stopped and continued meanwhile (see resumedInKeyRead); kFailed when the terminal cannot
// be read (hung up).
Arrival ReadMore(int fd, std::string& into, int timeoutMs) {
  struct pollfd p = {fd, POLLIN, 0};
  int ready;
  do ready = poll(&p, 1, timeoutMs);
  while (ready < 0 && errno == EINTR && !resumedInKeyRead);
  if (resumedInKeyRead) return Arrival::kResumed;
  if (ready == 0) return Arrival::kNothing;
  if (ready < 0 || !(p.revents & POLLIN)) return Arrival::kFailed;
  char buf[64];
  const ssize_t n = RetryOnInterrupt([&] { return read(fd, buf, sizeof buf); });
  if (n <= 0) return resumedInKeyRead ? Arrival::kResumed : Arrival::kFailed;
  into.append(buf, static_cast<std::size_t>(n));
  return Arrival::kBytes;
}

}  // namespace
}  // namespace posix_terminal

using namespace posix_terminal;

void FlushKeyboardInput() {
  UnreadKeys().clear();
  const TerminalHandle terminal(TerminalHandle::Use::kModes);
  if (terminal.valid()) tcflush(terminal.fd(), TCIFLUSH);
}

KeyPress ReadKeyboard() {
  KeyPress key;
  std::string& bytes = UnreadKeys();
  if (bytes.empty()) {
    const TerminalHandle keyboard(TerminalHandle::Use::kRead);
    if (!keyboard.valid()) {
      ShowAllOutput();
      return key;
    }
    // The key-read mode comes first and the prompt's last bytes after it: a user who answers
    // the moment the prompt shows (Ctrl+C included) is read as a key, never as an interrupt.
    RawMode raw(keyboard.fd());
    resumedInKeyRead = 0;
    // In the background nothing is drawn or read: the job waits, stopped, to be brought back,
    // and then the screen is drawn again.
    if (WaitForForeground(keyboard.fd())) {
      key.resumed = true;
      return key;
    }
    ShowAllOutput();
    raw.Waiting();
    for (;;) {
      const Arrival arrival = ReadMore(keyboard.fd(), bytes, kModeCheckMs);
      if (arrival == Arrival::kBytes) break;
      if (arrival == Arrival::kFailed) return key;
      // Put in the background without a stop (`bg` after a stop that came from elsewhere), or
      // stopped and continued: the screen is drawn again once the job has the terminal.
      if (arrival == Arrival::kResumed || InBackground(keyboard.fd())) {
        WaitForForeground(keyboard.fd());
        key.resumed = true;
        return key;
      }
      raw.Check();
    }
    // A lone Esc and the start of an escape sequence look alike; the rest of a sequence follows
    // within a few milliseconds, a person's next key does not.
    while (KeyMayContinue(bytes) &&
           ReadMore(keyboard.fd(), bytes, kEscTimeoutMs) == Arrival::kBytes) {
    }
  } else {
    ShowAllOutput();
  }
  const DecodedKey decoded = DecodeKey(bytes);
  key.code = decoded.code;
  key.secondCode = decoded.secondCode;
  key.typed.assign(bytes, 0, decoded.used);
  bytes.erase(0, decoded.used);
  return key;
}
