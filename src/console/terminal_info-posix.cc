// What the terminal can do, from its terminfo entry (ncurses' libtinfo).
#include <curses.h>
#include <term.h>

#include <string>

#include "console/terminal-posix.h"

namespace posix_terminal {
namespace {

// tputs hands a sequence over one byte at a time to a function without a context argument:
// this is where the bytes of the one call under way go.
std::string* captured = nullptr;

int Capture(int byte) {
  captured->push_back(static_cast<char>(byte));
  return byte;
}

// The capability `name` of the entry loaded, ready to write: padding (which a terminal that
// keeps up needs none of) is dropped by tputs. "" when the entry has none.
std::string StringCapability(const char* name) {
  const char* value = tigetstr(name);
  if (value == nullptr || value == reinterpret_cast<char*>(-1)) return {};
  std::string bytes;
  captured = &bytes;
  tputs(value, 1, Capture);
  captured = nullptr;
  return bytes;
}

}  // namespace

TerminalDescription DescribeTerminal(const char* term) {
  TerminalDescription description;
  if (term == nullptr || *term == '\0') return description;
  int error = 0;
  // Without a descriptor of ours: the entry is only read, nothing is set up on the terminal.
  if (setupterm(term, -1, &error) != OK) return description;
  description.name = term;
  description.colours = tigetnum("colors");
  description.clear = StringCapability("clear");
  description.scrollForward = StringCapability("ind");
  description.reverse = StringCapability("rev");
  if (description.reverse.empty()) description.reverse = StringCapability("smso");
  description.plain = StringCapability("sgr0");
  if (description.plain.empty()) description.plain = StringCapability("rmso");
  del_curterm(cur_term);
  return description;
}

}  // namespace posix_terminal
