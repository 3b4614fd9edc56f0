// Runs qz as a child process on a pseudo-terminal and renders what it writes with libvterm, so
// that end-to-end tests can read the screen as a user would see it and type keys at it.
#ifndef QZ_TESTS_E2E_PTY_TERMINAL_H_
#define QZ_TESTS_E2E_PTY_TERMINAL_H_

#include <sys/types.h>
#include <termios.h>
#include <vterm.h>

#include <string>
#include <string_view>
#include <vector>

namespace qz_e2e {

// Every wait is bounded by this unless the caller passes its own limit.
inline constexpr int kDefaultTimeoutMs = 10000;

// The environment variable QZ_E2E_WRAPPER, when set, names a program and its arguments, split
// at blanks, that every child is started through, as in
//   QZ_E2E_WRAPPER="valgrind --error-exitcode=97 -q"
// The waits then allow ten times as long (QZ_E2E_TIMEOUT_SCALE sets another factor).
const std::vector<std::string>& EnvironmentWrapper();
bool RunsUnderWrapper();
// `timeoutMs` stretched by that factor.
int ScaledTimeout(int timeoutMs);

// The programs under test: the qz of this build, and qz with the way of reading given first
// (qz_reads), unless QZ_E2E_PROGRAM and QZ_E2E_READS_PROGRAM name others, such as another
// architecture's build started through an emulator named by QZ_E2E_WRAPPER.
const std::string& QzProgram();
const std::string& QzReadsProgram();

// How the child is connected.
enum class Connection {
  // A pseudo-terminal that is the child's controlling terminal, on standard input, output and
  // error (forkpty).
  kControllingTerminal,
  // A pseudo-terminal on standard input, output and error, but in a new session that has no
  // controlling terminal, so that opening /dev/tty fails in the child.
  kTerminalWithoutControl,
  // No terminal at all: a new session, standard input from /dev/null, standard output and
  // error into one pipe.
  kPipesOnly,
};

struct LaunchOptions {
  std::vector<std::string> args;  // the arguments after the program name
  std::string workingDirectory = ".";
  int rows = 24;
  int cols = 80;
  Connection connection = Connection::kControllingTerminal;
  // When set (terminal connections only), the child's standard output goes to this file,
  // created or truncated; standard input and error stay on the terminal.
  std::string stdoutFile;
  // Bytes typed at the terminal before qz starts (controlling terminal only): the child waits
  // to exec until they are in the terminal's input queue.
  std::string typeahead;
  // A program and its arguments to start qz through (such as strace), outside any wrapper
  // from the environment.
  std::vector<std::string> wrapper;
  // When set ("plain", "ring" or "adaptive"), the test build of qz that reads files that way
  // is started instead of qz.
  std::string reads;
  // When set, this program (looked up along PATH) is started with `args` instead of qz, and
  // without any wrapper: a shell, say, that the test then has start qz.
  std::string program;
  // When set (controlling terminal only), the terminal's file description that the child's
  // standard input, output and error share is made non-blocking before the program starts.
  bool nonBlockingOutput = false;
  // The child's locale (LC_ALL; LANG and LC_CTYPE are removed), whatever the tests run under.
  std::string locale = "C.UTF-8";
  // The child's TERM, which says what the terminal can do; "" leaves TERM unset. NO_COLOR is
  // unset unless `environment` sets it.
  std::string term = "xterm";
  // Further NAME=value entries for the child's environment, each in place of the tests' own
  // entry of that name.
  std::vector<std::string> environment;
  // Renders the output as an 8-bit terminal does (one running in a locale that is not UTF-8):
  // bytes 0x80-0x9F are C1 controls and 0xA0-0xFF the Latin-1 characters.
  bool eightBitTerminal = false;
  // The terminal tells no size (0 rows, 0 columns), as one nobody has sized does; the screen
  // rendered stays `rows` by `cols`.
  bool sizeUnknown = false;
};

// The outcome of a child that has ended, or of a wait that ran out of time.
struct ExitStatus {
  bool ended = false;   // false: the wait ran out of time and the child still runs
  bool exited = false;  // ended by exit(); `code` holds the exit code
  int code = -1;
  int signal = 0;       // the signal that ended it, when it did not exit
};

class PtyTerminal {
 public:
  explicit PtyTerminal(const LaunchOptions& options);
  ~PtyTerminal();  // kills the child when it still runs
  PtyTerminal(const PtyTerminal&) = delete;
  PtyTerminal& operator=(const PtyTerminal&) = delete;

  // Whether the child was started; the reason otherwise.
  bool started() const { return pid_ > 0; }
  const std::string& startError() const { return startError_; }
  pid_t pid() const { return pid_; }

  // Reads and renders what the child writes during the next `timeoutMs` (0: only what is
  // there already), or until its output ends.
  void Pump(int timeoutMs);

  // Waits until `text` shows on the screen. False on timeout or when the child ended without
  // showing it.
  bool WaitForText(std::string_view text, int timeoutMs = kDefaultTimeoutMs);

  // Waits until `text` occurs at least `count` times in everything the child has written
  // (the raw bytes, before rendering).
  bool WaitForOutputCount(std::string_view text, std::size_t count,
                          int timeoutMs = kDefaultTimeoutMs);

  // Waits until the terminal's line discipline has canonical input, the interrupt key and flow
  // control off, which qz sets only while it waits for a key. Terminal connections only.
  bool WaitForRawMode(int timeoutMs = kDefaultTimeoutMs);

  // Writes `bytes` to the terminal's input side, in one write.
  void SendKeys(std::string_view bytes);

  // Gives the terminal a new size, as a user resizing the window would (terminal connections
  // only).
  bool Resize(int rows, int cols);

  // Sends `sig` to the child.
  void Signal(int sig);

  // Whether the child still runs (reaps it when it has ended).
  bool Running();

  // Waits for the child to end, reading all it writes until then.
  ExitStatus WaitExit(int timeoutMs = kDefaultTimeoutMs);

  // Waits for the child to end without reading anything it writes, as a terminal whose user
  // has stopped reading would (`timeoutMs` is scaled as for every wait).
  ExitStatus WaitExitWithoutReading(int timeoutMs = kDefaultTimeoutMs);

  // The terminal's foreground process group (terminal connections only), -1 when unknown: the
  // job a shell in the terminal runs in the foreground.
  pid_t ForegroundGroup() const;

  // The screen: each row with trailing blanks trimmed, cells decoded to UTF-8, rows joined
  // with '\n'.
  std::string ScreenText();
  std::string Row(int row);
  VTermScreenCell Cell(int row, int col);
  int rows() const { return rows_; }
  int cols() const { return cols_; }

  // The rows scrolled off the top of the screen, oldest first, trimmed as Row trims them.
  const std::vector<std::string>& Scrollback() const { return scrollback_; }

  // Every byte the child has written to the terminal or pipe, in order.
  const std::string& Transcript() const { return transcript_; }

  // The terminal's current modes (those of the child's side); works after the child ended.
  bool GetTermios(struct termios& mode) const;
  // Sets the terminal's modes, as another program on the same terminal may.
  bool SetTermios(const struct termios& mode) const;

 private:
  void StartOnTerminal(const LaunchOptions& options);
  void StartOnPipes(const LaunchOptions& options);
  // Reads once what arrives within `timeoutMs`; false when nothing did.
  bool ReadOnce(int timeoutMs);
  // The status of the child, which has been reaped.
  ExitStatus EndedStatus() const;

  bool eightBit_ = false;
  VTerm* vt_ = nullptr;
  VTermScreen* screen_ = nullptr;
  int rows_;
  int cols_;
  int masterFd_ = -1;  // the terminal's controlling side, or the read end of the pipe
  bool inputClosed_ = false;
  pid_t pid_ = -1;
  bool reaped_ = false;
  int waitStatus_ = 0;
  std::string transcript_;
  std::string startError_;
  std::vector<std::string> scrollback_;
};

// Occurrences of `needle` in `haystack`, not overlapping.
std::size_t CountOccurrences(std::string_view haystack, std::string_view needle);

// Quotes a string for a test message: control bytes and non-ASCII bytes as \xNN.
std::string Printable(std::string_view bytes);

}  // namespace qz_e2e

#endif  // QZ_TESTS_E2E_PTY_TERMINAL_H_
