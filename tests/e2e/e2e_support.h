// What the end-to-end tests share: scratch trees, the texts qz shows, and checks of the screen,
// the terminal's modes and the child's state.
#ifndef QZ_TESTS_E2E_E2E_SUPPORT_H_
#define QZ_TESTS_E2E_E2E_SUPPORT_H_

#include <gtest/gtest.h>
#include <sys/types.h>
#include <termios.h>
#include <vterm.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "pty_terminal.h"
#include "support/temp_tree.h"

namespace qz_e2e {

inline constexpr std::string_view kUsage = "Usage is: qz.exe <file(s)> <search-text> [/s]";
inline constexpr std::string_view kPrompt =
    "(S) to skip this file; (Esc) to stop searching; any other key to continue: ";
// The prompt's row on the screen, where trailing blanks are trimmed.
inline constexpr std::string_view kPromptRow =
    "(S) to skip this file; (Esc) to stop searching; any other key to continue:";
// The end of the prompt; it stays in one piece in the raw output in the window widths used
// here (the prompt breaks after 40 or 60 columns in narrow windows).
inline constexpr std::string_view kPromptTail = "to continue: ";
// What qz writes to clear the window: home, clear (the scrollback stays).
inline constexpr std::string_view kClear = "\x1b[H\x1b[2J";

// Colour indexes as libvterm reports them for the SGR codes qz uses.
inline constexpr int kBlack = 0;
inline constexpr int kGrey = 8;           // SGR 100
inline constexpr int kBrightYellow = 11;  // SGR 93

// The scratch tree the unit tests use too; FIFOs are made with MakeFifo.
using qz_test::TempTree;
bool MakeFifo(const TempTree& tree, const std::string& relative);

// Makes the chain `names` of directories below `parent`, one openat step at a time, so that
// its path may grow beyond what a single system call accepts; writes `files` (name and level,
// 1 for the first directory) with `content` along the way. False when a step fails.
bool MakeChain(const std::string& parent, const std::vector<std::string>& names,
               const std::vector<std::pair<std::string, std::size_t>>& files,
               std::string_view content);

// qz run with `args` in `tree`, launched with `options` otherwise (`{.typeahead = "x"}`).
LaunchOptions In(const TempTree& tree, std::vector<std::string> args, LaunchOptions options = {});

// What a failed expectation shows: the screen and the end of the raw output.
std::string Describe(PtyTerminal& t);

// Waits for prompt number `n` (counted from 1 over the whole run) and for the key read behind
// it, so that a key sent next is the answer to that prompt. `tail` is the prompt's end as the
// raw output holds it (broken otherwise in a very narrow window).
testing::AssertionResult ReachPrompt(PtyTerminal& t, std::size_t n,
                                     int timeoutMs = kDefaultTimeoutMs,
                                     std::string_view tail = kPromptTail);
testing::AssertionResult AnswerPrompt(PtyTerminal& t, std::size_t n, std::string_view key);

// Waits for prompt `n` and checks the header on the top row.
testing::AssertionResult PromptWithHeader(PtyTerminal& t, std::size_t n, std::string_view header);

// Answers the prompt qz waits at with `key`, the last it shows, and waits for a clean exit.
testing::AssertionResult AnswerAndExit(PtyTerminal& t, std::string_view key = "n");

struct Walkthrough {
  std::vector<std::string> headers;  // the top row at each prompt
  ExitStatus exit;
};

// Answers every prompt after the first `answered` with `key` until the run ends.
// The wait for the end is bounded by `exitTimeoutMs`.
Walkthrough AnswerEveryPrompt(PtyTerminal& t, std::string_view key = "n",
                              std::size_t answered = 0, int exitTimeoutMs = kDefaultTimeoutMs);

testing::AssertionResult ExitedWithZero(const ExitStatus& s);

// Answers every prompt with "n" and checks that the run ends cleanly after showing `headers`
// (the top row at each prompt), in order.
testing::AssertionResult WalksThrough(PtyTerminal& t, const std::vector<std::string>& headers);

// Whether a row of the screen reads exactly `text` (trailing blanks trimmed).
bool HasRow(PtyTerminal& t, std::string_view text);

// The two count lines of the summary, after "Search complete".
void ExpectSummary(PtyTerminal& t, std::string_view filesLine, std::string_view occurrencesLine);

// The same for the counts alone: `files` ("1 file", "2 files") and `occurrences` of `text`.
void ExpectCounts(PtyTerminal& t, std::string_view files, std::string_view occurrences,
                  std::string_view text = "needle");

// Checks the colours of cells [from, to) on `row`: indexed `fg` on `bg`, or the terminal's own.
void ExpectColours(PtyTerminal& t, int row, int from, int to, int fg, int bg);
void ExpectDefaultColours(PtyTerminal& t, int row, int from, int to);

std::string ReadAll(const std::string& path);
std::string Repeat(char c, std::size_t n);
std::string Times(std::string_view piece, int n);

// The modes a new pseudo-terminal starts with: those of the child's terminal before qz ran.
struct termios FreshTerminalModes();
testing::AssertionResult SameModes(const struct termios& want, const struct termios& got);

// Whether the colours are the terminal's own at the end of `raw`: the last colour sequence
// written, if any, is SGR 0.
testing::AssertionResult ColoursEndReset(const std::string& raw);

// Checks `condition` every `pollMs` until it holds, for at most `timeoutMs` (stretched as
// every wait is under a wrapper): whether it held. The one way the tests wait for a state that
// no output announces (a process blocked where the test wants it, a file mapped); a fixed
// sleep would either waste time or, on a busy machine, not be long enough.
template <typename Condition>
bool WaitFor(Condition&& condition, int timeoutMs = kDefaultTimeoutMs, int pollMs = 5) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(ScaledTimeout(timeoutMs));
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
  }
}

// Whether `pid` waits in a write() to `fd`; `count` is the number of bytes it writes.
bool WaitsInWrite(pid_t pid, int fd, unsigned long& count);

// The numbers of the system calls the tests watch qz make, as /proc/<pid>/syscall shows them:
// those of the process's own kind, which for a 32-bit x86 qz (run as it is by x86-64 Linux)
// are not this driver's.
struct SystemCalls {
  long write;
  long pread64;
  long getdents64;
  long poll;  // -1 where the system has ppoll alone
  long ppoll;
};
SystemCalls SystemCallsOf(pid_t pid);
// Waits until `pid` (by default the terminal's child) waits in a write to its standard output.
testing::AssertionResult WaitUntilItWaitsInWrite(PtyTerminal& t, pid_t pid = -1);
// Whether `pid` waits in poll() (or ppoll()) for one of its descriptors to be ready.
bool WaitsInPoll(pid_t pid);
// Whether `pid` is blocked opening a FIFO that has no reader yet (or, as a reader, no writer).
bool WaitsForAPartner(pid_t pid);

// Runs a program to its end: its exit code, or -1 when it could not run or was killed.
int RunProgram(const std::vector<std::string>& args);
bool HaveProgram(const std::string& name);

}  // namespace qz_e2e

#endif  // QZ_TESTS_E2E_E2E_SUPPORT_H_
