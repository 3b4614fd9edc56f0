// End-to-end runs over trees built to trip the tool up: entries that are no regular files,
// link loops, very deep and very long paths, names and contents full of control bytes, files
// that change while the tool waits at a prompt, a huge sparse file, a huge search text, and a
// terminal resized under it. Every run must end with the right summary, leave the tree exactly
// as it was, and write nothing to the terminal that the terminal could obey.
#include <fcntl.h>
#include <fts.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace qz_e2e {
namespace {

using namespace std::string_literals;

// A UNIX socket bound at `path`; the socket file stays after the socket is closed.
bool MakeSocket(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return bound;
}

std::uint64_t Fnv1a(int fd) {
  std::uint64_t hash = 14695981039346656037ull;
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0)
    for (ssize_t i = 0; i < n; ++i) hash = (hash ^ static_cast<unsigned char>(buf[i])) * 1099511628211ull;
  return hash;
}

// Everything about the tree that a write could change, one line per entry, links not
// followed: path, type and mode, owner, size, blocks, modification and change times, a link's
// target, a regular file's content hash (size and times stand for it above 64 MiB).
std::string Manifest(const std::string& root) {
  std::string out;
  char* paths[] = {const_cast<char*>(root.c_str()), nullptr};
  FTS* fts = fts_open(paths, FTS_PHYSICAL, nullptr);
  if (!fts) return "cannot walk " + root;
  while (FTSENT* e = fts_read(fts)) {
    if (e->fts_info == FTS_DP) continue;
    std::ostringstream line;
    line << Printable(std::string_view(e->fts_path).substr(root.size())) << " info=" << e->fts_info;
    if (e->fts_info == FTS_NS || e->fts_info == FTS_ERR || e->fts_info == FTS_DNR) {
      line << " error=" << e->fts_errno;
    } else {
      const struct stat& st = *e->fts_statp;
      line << " mode=" << std::oct << st.st_mode << std::dec << " uid=" << st.st_uid
           << " size=" << st.st_size << " blocks=" << st.st_blocks << " mtime=" << st.st_mtim.tv_sec
           << "." << st.st_mtim.tv_nsec << " ctime=" << st.st_ctim.tv_sec << "."
           << st.st_ctim.tv_nsec << " rdev=" << st.st_rdev;
      if (S_ISLNK(st.st_mode)) {
        char target[4096];
        const ssize_t n = readlink(e->fts_accpath, target, sizeof target);
        line << " -> " << Printable(std::string_view(target, n > 0 ? n : 0));
      } else if (S_ISREG(st.st_mode) && st.st_size <= (64 << 20)) {
        const int fd = open(e->fts_accpath, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        line << " fnv=" << std::hex << (fd >= 0 ? Fnv1a(fd) : 0);
        if (fd >= 0) close(fd);
      }
    }
    out += line.str() + "\n";
  }
  fts_close(fts);
  return out;
}

// Whether everything qz wrote is inert on a terminal: once its own colour and clearing
// sequences are taken out, the bytes must be well-formed UTF-8 holding no ESC, no C0 control
// but CR, LF and BS, no DEL and no C1 control.
testing::AssertionResult IsInert(const std::string& transcript) {
  static const std::regex own("\x1b\\[(0|0;[0-9]+;[0-9]+)m|\x1b\\[H|\x1b\\[2J");
  const std::string rest = std::regex_replace(transcript, own, "");
  for (std::size_t i = 0; i < rest.size();) {
    const auto b = static_cast<unsigned char>(rest[i]);
    const auto context = [&] {
      return Printable(std::string_view(rest).substr(i > 40 ? i - 40 : 0, 80));
    };
    std::size_t length = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3
                                                                : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > rest.size())
      return testing::AssertionFailure() << "bad UTF-8 at " << i << ": " << context();
    std::uint32_t cp = length == 1 ? b : b & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto c = static_cast<unsigned char>(rest[i + k]);
      if ((c & 0xC0) != 0x80)
        return testing::AssertionFailure() << "bad UTF-8 at " << i << ": " << context();
      cp = (cp << 6) | (c & 0x3F);
    }
    const bool control = (cp < 0x20 && cp != '\r' && cp != '\n' && cp != '\b') || cp == 0x7F ||
                         (cp >= 0x80 && cp <= 0x9F);
    if (control)
      return testing::AssertionFailure() << "control character " << cp << " at " << i << ": "
                                         << context();
    i += length;
  }
  return testing::AssertionSuccess();
}

// The hostile tree. `mutable` files are meant to be changed while qz waits at its first
// prompt (see Mutate).
struct HostileTree {
  TempTree scratch;
  bool device = false;  // whether a device node could be made

  HostileTree() {
    const TempTree& s = scratch;
    s.File("0first.txt", "needle at the first prompt");
    std::string bytes = "needle:";
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    s.File("bytes.txt", bytes + "needle after byte 26");
    s.File("new\nline.txt", "needle");
    s.File("esc\x1b]0;owned\x07\x1b[2J.txt", "needle \x1b[31m");
    s.File("bad\xff\xfe\xc0\x9b.txt", "needle");
    s.File("grow.txt", "x");
    s.File("shrink.txt", "needle needle needle");
    s.File("vanish.txt", "needle");
    s.File("swap.txt", "needle");
    mkfifo(s.Path("fifo.txt").c_str(), 0644);
    MakeSocket(s.Path("sock.txt"));
    struct stat null;
    if (geteuid() == 0 && stat("/dev/null", &null) == 0)
      device = mknod(s.Path("dev.txt").c_str(), S_IFCHR | 0666, null.st_rdev) == 0;
    s.Symlink("dangling.txt", "nowhere.txt");
    s.Symlink("loop.txt", "loop.txt");
    s.Symlink("zlink-a.txt", "zlink-b.txt");
    s.Symlink("zlink-b.txt", "zlink-a.txt");
    s.Directory("loops");
    s.Directory("loops/inner");
    s.Symlink("loops/self", ".");
    s.Symlink("loops/inner/back", "../..");  // the top of the tree, two levels up
    s.Symlink("loops/gone", "missing/");
    s.Symlink("loops/inner/deadend.txt", "../../nowhere/x.txt");
    // 1,000 directories deep, a match at the bottom; the path stays within the system's limit.
    s.Directory("deep");
    EXPECT_TRUE(MakeChain(s.Path("deep"), std::vector<std::string>(1000, "d"),
                          {{"bottom.txt", 1000}}, "needle"));
    // Past 4,096 bytes: a match halfway (found) and one at the end (beyond the limit).
    s.Directory("long");
    EXPECT_TRUE(MakeChain(s.Path("long"), std::vector<std::string>(25, std::string(200, 'L')),
                          {{"mid.txt", 10}, {"far.txt", 25}}, "needle"));
  }

  // What happens to the files after the listing was read, before they are opened.
  void Mutate() const {
    const TempTree& s = scratch;
    std::ofstream(s.Path("grow.txt"), std::ios::app) << "\nneedle needle";
    EXPECT_EQ(truncate(s.Path("shrink.txt").c_str(), 9), 0);
    EXPECT_EQ(unlink(s.Path("vanish.txt").c_str()), 0);
    EXPECT_EQ(mkfifo(s.Path("swap.fifo").c_str(), 0644), 0);
    EXPECT_EQ(rename(s.Path("swap.fifo").c_str(), s.Path("swap.txt").c_str()), 0);
  }
};

// UTF-8 text as a window one column wide shows it: each character on a line of its own (the
// terminal's output processing makes each LF a CR LF).
std::string InOneColumn(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (i + 1 == text.size() || (static_cast<unsigned char>(text[i + 1]) & 0xC0) != 0x80)
      out += "\r\r\n";
  }
  return out;
}

TEST(HostileTree, WalkEndsWithTheRightSummaryAndLeavesTheTreeAlone) {
  HostileTree tree;
  const std::string before = Manifest(tree.scratch.path());
  LaunchOptions options = In(tree.scratch, {"*.txt", "needle", "/s"});
  options.rows = 40;
  options.cols = 100;
  PtyTerminal t(options);
  ASSERT_TRUE(t.started()) << t.startError();

  // The first prompt: the listing of the top directory has been read. Files change, and the
  // window shrinks to one column.
  ASSERT_TRUE(PromptWithHeader(t, 1, "Found in ./0first.txt - position 0:"));
  EXPECT_EQ(Manifest(tree.scratch.path()), before);
  tree.Mutate();
  const std::string mutated = Manifest(tree.scratch.path());
  ASSERT_TRUE(t.Resize(1, 1));
  t.SendKeys("n");

  // The second prompt comes in the one-column window; then the window grows again.
  ASSERT_TRUE(ReachPrompt(t, 1, kDefaultTimeoutMs, InOneColumn(kPromptTail)));
  ASSERT_TRUE(t.Resize(40, 100));
  t.SendKeys("n");

  // The one-column prompt does not hold the tail in one piece: the next full one is the 2nd.
  const Walkthrough walk = AnswerEveryPrompt(t, "n", 1);
  const std::size_t prompts = 2 + walk.headers.size();
  EXPECT_TRUE(ExitedWithZero(walk.exit)) << Describe(t);

  // 0first, bad..., bytes, esc..., grow (twice), new-line, shrink, deep/.../bottom, long/.../mid.
  EXPECT_EQ(prompts, 10u) << Describe(t);
  EXPECT_TRUE(HasRow(t, "9 files found containing the text \"needle\"")) << Describe(t);
  EXPECT_TRUE(HasRow(t, "10 occurrences of the text \"needle\"")) << Describe(t);
  const std::string& raw = t.Transcript();
  // The grown file as it was when opened; the shrunk one cut short; the vanished and the
  // swapped ones passed over.
  EXPECT_NE(raw.find("Found in ./grow.txt - position 2:"), std::string::npos);
  EXPECT_NE(raw.find("Found in ./grow.txt - position 9:"), std::string::npos);
  EXPECT_NE(raw.find("Found in ./shrink.txt - position 0:"), std::string::npos);
  EXPECT_EQ(raw.find("shrink.txt - position 7"), std::string::npos);
  EXPECT_EQ(raw.find("vanish.txt"), std::string::npos);
  EXPECT_EQ(raw.find("swap.txt"), std::string::npos);
  EXPECT_EQ(raw.find("fifo.txt"), std::string::npos);
  EXPECT_EQ(raw.find("sock.txt"), std::string::npos);
  EXPECT_EQ(raw.find("dev.txt"), std::string::npos);
  // The names with control bytes are shown as glyphs.
  EXPECT_NE(raw.find("Found in ./esc\u2190]0;owned\u2022\u2190[2J.txt - position 0:"),
            std::string::npos);
  EXPECT_NE(raw.find(InOneColumn("Found in ./bad\uFFFD\uFFFD\uFFFD\uFFFD.txt - position 0:")),
            std::string::npos);  // shown in the one-column window
  EXPECT_TRUE(IsInert(raw));
  EXPECT_EQ(Manifest(tree.scratch.path()), mutated);
  if (!tree.device) std::printf("note: no device node could be made; that part was not run\n");
}

// The same tree under strace: qz opens nothing for writing but the terminal, and never opens
// the FIFO, the socket or the device node at all.
TEST(HostileTree, OpensNothingForWritingButTheTerminal) {
  if (RunsUnderWrapper()) GTEST_SKIP() << "runs under " << EnvironmentWrapper()[0];
  if (!HaveProgram("strace")) GTEST_SKIP() << "strace is not installed";
  HostileTree tree;
  const std::string before = Manifest(tree.scratch.path());
  TempTree logs;
  const std::string log = logs.Path("strace.log");
  LaunchOptions options = In(tree.scratch, {"*.txt", "needle", "/s"});
  options.wrapper = {"strace", "-f", "-qq", "-o", log, "-e", "trace=open,openat,openat2,creat"};
  // LeakSanitizer cannot work under ptrace: a sanitizer build of qz is traced without it.
  const char* asan = std::getenv("ASAN_OPTIONS");
  options.environment = {"ASAN_OPTIONS=" + (asan ? std::string(asan) + ":" : "") +
                         "detect_leaks=0"};
  // Opens through io_uring do not show in strace: the files are opened with plain calls here,
  // with the same flags.
  options.reads = "plain";
  PtyTerminal t(options);
  EXPECT_TRUE(ExitedWithZero(AnswerEveryPrompt(t).exit)) << Describe(t);
  // As the tree was built: shrink.txt three times, vanish.txt and swap.txt once each.
  EXPECT_TRUE(HasRow(t, "10 files found containing the text \"needle\"")) << Describe(t);
  EXPECT_TRUE(HasRow(t, "12 occurrences of the text \"needle\"")) << Describe(t);

  std::ifstream in(log);
  std::string line;
  std::size_t opens = 0, searched = 0;
  static const std::regex writing("O_WRONLY|O_RDWR|O_CREAT|O_TRUNC|O_APPEND|creat\\(");
  while (std::getline(in, line)) {
    if (line.find("open") == std::string::npos && line.find("creat(") == std::string::npos) continue;
    ++opens;
    if (line.find("\"0first.txt\"") != std::string::npos || line.find("/0first.txt\"") != std::string::npos)
      ++searched;
    if (std::regex_search(line, writing)) {
      EXPECT_NE(line.find("\"/dev/tty\", O_RDWR|"), std::string::npos) << line;
      EXPECT_EQ(line.find("O_CREAT"), std::string::npos) << line;
      EXPECT_EQ(line.find("O_TRUNC"), std::string::npos) << line;
    }
    for (const char* never : {"fifo.txt", "sock.txt", "dev.txt"})
      EXPECT_EQ(line.find(never), std::string::npos) << line;
  }
  EXPECT_GT(opens, 10u);
  EXPECT_EQ(searched, 1u) << "the log does not show the files being opened";
  EXPECT_EQ(Manifest(tree.scratch.path()), before);
}

TEST(HostileTree, SearchTextOf100KB) {
  // Every byte value but NUL (no argument holds one), CR (a CR LF in the file would be read as
  // LF) and 26 (it would end the file's content).
  std::string text;
  for (std::uint32_t x = 12345; text.size() < 100000;) {
    x = x * 1103515245 + 12345;
    const auto b = static_cast<char>((x >> 16) & 0xFF);
    if (b != 0 && b != '\r' && b != 26) text += b;
  }
  TempTree s;
  s.File("big-text.txt", "before " + text + " after");
  s.File("other.txt", "nothing");
  const std::string before = Manifest(s.path());
  PtyTerminal t(In(s, {"*.txt", text}));
  ASSERT_TRUE(ReachPrompt(t, 1));
  EXPECT_TRUE(AnswerAndExit(t));
  const std::string& raw = t.Transcript();
  EXPECT_NE(raw.find("Found in ./big-text.txt - position 7:"), std::string::npos);
  EXPECT_EQ(raw.find("other.txt - position"), std::string::npos);
  EXPECT_NE(raw.find("1 file found containing the text \""), std::string::npos);
  EXPECT_NE(raw.find("1 occurrence of the text \""), std::string::npos);
  EXPECT_TRUE(IsInert(raw));
  EXPECT_EQ(Manifest(s.path()), before);
}

// A file of 5 GiB, nearly all a hole, with CR LF pairs at its start and matches past 2 GiB and
// 4 GiB, where a 32-bit count or a 32-bit build's size_t would wrap. Files that large are
// mapped a window at a time; reading the hole's pages costs the kernel a few seconds.
TEST(HostileTree, SparseFileOf5GiBGivesThePositionsPastTwoAndFourGiB) {
  // Reading 5 GiB takes minutes under valgrind; the 32-bit builds' runs under an emulator ask
  // for it all the same (QZ_E2E_LARGE_FILES), as positions past 2^31 and 2^32 are their case.
  const char* large = std::getenv("QZ_E2E_LARGE_FILES");
  if (RunsUnderWrapper() && !(large && *large))
    GTEST_SKIP() << "too slow under " << EnvironmentWrapper()[0];
  TempTree s;
  constexpr off_t kPast2GiB = (off_t{2} << 30) + 12345;
  constexpr off_t kPast4GiB = (off_t{4} << 30) + 12345;
  const std::string path = s.Path("sparse.txt");
  {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, off_t{5} << 30), 0);
    ASSERT_EQ(pwrite(fd, "a\r\nb\r\nc\r\n", 9, 0), 9);
    ASSERT_EQ(pwrite(fd, "needle", 6, kPast2GiB), 6);
    ASSERT_EQ(pwrite(fd, "needle", 6, kPast4GiB), 6);
    close(fd);
  }
  const std::string before = Manifest(s.path());
  const auto start = std::chrono::steady_clock::now();
  PtyTerminal t(In(s, {"*.txt", "needle"}));
  ASSERT_TRUE(ReachPrompt(t, 1, 180000));
  // Three CRs dropped before each.
  EXPECT_EQ(t.Row(0), "Found in ./sparse.txt - position " + std::to_string(kPast2GiB - 3) + ":")
      << Describe(t);
  t.SendKeys("n");
  ASSERT_TRUE(ReachPrompt(t, 2, 180000));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("the match past 4 GiB was shown after %.1f s\n", seconds);
  RecordProperty("seconds_to_match", std::to_string(seconds));
  EXPECT_EQ(t.Row(0), "Found in ./sparse.txt - position " + std::to_string(kPast4GiB - 3) + ":")
      << Describe(t);
  t.SendKeys("\x1b");  // the rest of the hole need not be read
  EXPECT_TRUE(ExitedWithZero(t.WaitExit())) << Describe(t);
  EXPECT_TRUE(HasRow(t, "2 occurrences of the text \"needle\"")) << Describe(t);
  EXPECT_EQ(Manifest(s.path()), before);
}

// A large file cut short while qz waits at a prompt on it: its content was taken in before the
// prompt, so the later occurrences are those of the file as it was when its search began.
TEST(HostileTree, MappedFileCutShortAtAPrompt) {
  TempTree s;
  std::string content(8 << 20, 'x');
  for (const std::size_t at : {100u, 1u << 20, 6u << 20}) content.replace(at, 6, "needle");
  s.File("mapped.txt", content);
  PtyTerminal t(In(s, {"*.txt", "needle"}));
  ASSERT_TRUE(PromptWithHeader(t, 1, "Found in ./mapped.txt - position 100:"));
  ASSERT_EQ(truncate(s.Path("mapped.txt").c_str(), 2 << 20), 0);
  const std::string cut = Manifest(s.path());
  t.SendKeys("n");
  ASSERT_TRUE(PromptWithHeader(t, 2, "Found in ./mapped.txt - position 1048576:"));
  t.SendKeys("n");
  ASSERT_TRUE(PromptWithHeader(t, 3, "Found in ./mapped.txt - position 6291456:"));
  EXPECT_TRUE(AnswerAndExit(t));
  EXPECT_TRUE(HasRow(t, "3 occurrences of the text \"needle\"")) << Describe(t);
  EXPECT_EQ(Manifest(s.path()), cut);
}

}  // namespace
}  // namespace qz_e2e
