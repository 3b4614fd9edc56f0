// Terminal output held back for a moment, so that a walk over many files without a match
// updates the terminal a few times a second instead of once per file. Pure: the caller reads
// the clock, writes the bytes and tells the piece when it has.
#ifndef QZ_CONSOLE_HELD_OUTPUT_H_
#define QZ_CONSOLE_HELD_OUTPUT_H_

#include <chrono>
#include <string>
#include <utility>

#include "console/terminal_text.h"

class HeldOutput {
 public:
  using Clock = std::chrono::steady_clock;
  // Output written within this long of the last pass waits for the next one.
  static constexpr Clock::duration kHoldLimit = std::chrono::milliseconds(50);

  // `style`: how the terminal is told the colours (see TerminalStyle).
  explicit HeldOutput(Clock::time_point now, TerminalStyle style = TerminalStyle())
      : style_(std::move(style)), lastPass_(now) {}

  // Where the terminal bytes go, in order; they reach the terminal at the next pass.
  std::string& sink() { return held_; }
  const std::string& held() const { return held_; }

  // The colours of what follows, as the writers choose them. Appends the terminal's sequence
  // for them when they change.
  void SetAttribute(ConsoleAttribute attribute);
  ConsoleAttribute attribute() const { return attribute_; }

  // The window is about to be cleared, which would erase everything held: it is dropped, and
  // the colours of what follows stay as the writers chose them.
  void DropForClear();

  // Whether the held bytes should be passed on at `now`: there are some, and the last pass was
  // at least kHoldLimit ago.
  bool Due(Clock::time_point now) const {
    return !held_.empty() && now - lastPass_ >= kHoldLimit;
  }

  // Whether the terminal may be left in colours other than its own while the held bytes are
  // being written (before the pass is complete) and once they have been (after).
  bool ColoursMayBeSetDuringPass() const;
  bool ColoursMayBeSetAfterPass() const;

  // The held bytes have all been written, at `now`.
  void Passed(Clock::time_point now);

  // Something outside the writers put the terminal's own colours back: the next bytes passed on
  // start by selecting the colours the held bytes were written for.
  void ColoursWereReset();

 private:
  void AppendAttribute(ConsoleAttribute attribute);

  TerminalStyle style_;
  std::string held_;
  ConsoleAttribute attribute_ = kDefaultAttribute;  // as the writers see it
  ConsoleAttribute shown_ = kDefaultAttribute;      // as the terminal has it before held_
  bool holdsColour_ = false;                        // held_ selects colours of their own
  Clock::time_point lastPass_;
};

#endif  // QZ_CONSOLE_HELD_OUTPUT_H_
