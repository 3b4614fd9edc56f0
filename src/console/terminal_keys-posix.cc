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

// Appends what arrives within `timeoutMs`; false when nothing did, or when the process was
// stopped and continued meanwhile (see resumedInKeyRead).
bool ReadMore(int fd, std::string& into, int timeoutMs) {
  struct pollfd p = {fd, POLLIN, 0};
  int ready;
  do ready = poll(&p, 1, timeoutMs);
  while (ready < 0 && errno == EINTR && !resumedInKeyRead);
  if (ready <= 0 || !(p.revents & POLLIN)) return false;
  char buf[64];
  const ssize_t n = RetryOnInterrupt([&] { return read(fd, buf, sizeof buf); });
  if (n <= 0) return false;
  into.append(buf, static_cast<std::size_t>(n));
  return true;
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
    ShowAllOutput();
    raw.Waiting();
    if (!ReadMore(keyboard.fd(), bytes, -1)) {
      key.resumed = resumedInKeyRead != 0;
      return key;
    }
    // A lone Esc and the start of an escape sequence look alike; the rest of a sequence follows
    // within a few milliseconds, a person's next key does not.
    while (KeyMayContinue(bytes) && ReadMore(keyboard.fd(), bytes, kEscTimeoutMs)) {
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
