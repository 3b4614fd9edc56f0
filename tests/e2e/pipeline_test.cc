// End-to-end tests of how qz reads a tree: files as snapshots, entries swapped at a prompt,
// links to directories already searched, and the limits a hostile machine sets (memory, stack).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace qz_e2e {
namespace {

namespace fs = std::filesystem;

// qz started through a shell that sets a resource limit first (`ulimit` arguments).
LaunchOptions Limited(const TempTree& tree, std::vector<std::string> args, std::string limit) {
  LaunchOptions options = In(tree, std::move(args));
  options.wrapper = {"/bin/sh", "-c", "ulimit " + limit + " && exec \"$@\"", "sh"};
  return options;
}

bool SanitizedOrWrapped() {
#ifdef QZ_E2E_SANITIZED
  return true;
#else
  return RunsUnderWrapper();
#endif
}

// Runs qz with the files read through io_uring where it can be set up, or (`plain`) with the
// plain calls the reader falls back to.
LaunchOptions WithReads(LaunchOptions options, bool plain) {
  options.reads = plain ? "plain" : "ring";
  return options;
}

// The regular files the process holds open under `root`.
std::vector<std::string> OpenUnder(pid_t pid, const std::string& root) {
  std::vector<std::string> open;
  std::error_code error;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    const std::string target = fs::read_symlink(fd.path(), error).string();
    if (target.rfind(root, 0) == 0 && fs::is_regular_file(target, error)) open.push_back(target);
  }
  return open;
}

// Files read ahead of the scan are shown as they are when their turn comes: what changed at a
// prompt is read again, and no file is held open while the user decides. Both ways of reading
// give the same walk.
TEST(Pipeline, ReadAheadIsDroppedAtEveryPromptBothWays) {
  for (const bool plain : {false, true}) {
    TempTree tree;
    tree.File("a.txt", "needle");
    for (int i = 0; i < 40; ++i) tree.File("b" + std::to_string(10 + i) + ".txt", "..needle");
    tree.File("c.txt", std::string(5 << 20, 'c') + "needle");
    PtyTerminal t(WithReads(In(tree, {"*.txt", "needle"}), plain));
    ASSERT_TRUE(PromptWithHeader(t, 1, "Found in ./a.txt - position 0:"));
    EXPECT_EQ(OpenUnder(t.pid(), tree.path()), std::vector<std::string>{}) << "plain " << plain;
    // Moves the occurrence of every later file; the run must see the new content.
    for (int i = 0; i < 40; ++i) tree.File("b" + std::to_string(10 + i) + ".txt", "....needle");
    t.SendKeys("n");
    ASSERT_TRUE(ReachPrompt(t, 2));
    EXPECT_EQ(t.Row(0), "Found in ./b10.txt - position 4:") << "plain " << plain;
    EXPECT_EQ(OpenUnder(t.pid(), tree.path()), std::vector<std::string>{}) << "plain " << plain;
    const Walkthrough walk = AnswerEveryPrompt(t, "n", 1);
    EXPECT_TRUE(ExitedWithZero(walk.exit)) << Describe(t);
    const std::vector<std::string>& headers = walk.headers;
    ASSERT_EQ(headers.size(), 41u) << Describe(t);
    EXPECT_EQ(headers[39], "Found in ./b49.txt - position 4:") << "plain " << plain;
    EXPECT_EQ(headers[40], "Found in ./c.txt - position " + std::to_string(5 << 20) + ":");
  }
}

// Whether the process holds an io_uring instance.
bool HoldsRing(pid_t pid) {
  std::error_code error;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    if (fs::read_symlink(fd.path(), error).string() == "anon_inode:[io_uring]") return true;
  }
  return false;
}

// Drops the file's pages from the page cache, so that reading it waits for the disk.
void Evict(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  fdatasync(fd);
  posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  close(fd);
}

// Files in the page cache are read with plain calls, which cost less there over a short walk;
// the first read found to wait for the disk sets the ring up, and so does a walk that has
// opened over a thousand files, and the files after that are read ahead through it. The tool
// reads no environment variable of its own: QZ_TEST_READS, which chose the way once, changes
// nothing.
TEST(Pipeline, TheRingIsSetUpOnceAReadWaitsForTheDisk) {
#ifdef QZ_E2E_PORTABLE
  GTEST_SKIP() << "a build without io_uring";
#endif
  if (RunsUnderWrapper()) GTEST_SKIP() << "runs under " << EnvironmentWrapper()[0];
  for (const char* reads : {"ring", "", "cold", "environment", "long"}) {
    TempTree tree;
    // The first prompt comes at the last file, after every other has been read.
    for (int i = 0; i < 40; ++i)
      tree.File("f" + std::to_string(10 + i) + ".txt",
                (i == 39 ? "needle" : "") + std::string(100000, '.'));
    if (std::string_view(reads) == "long")  // before the others in name order
      for (int i = 0; i < 1100; ++i) tree.File("e" + std::to_string(1000 + i) + ".txt", "e");
    if (std::string_view(reads) == "cold")
      for (int i = 0; i < 40; ++i) Evict(tree.Path("f" + std::to_string(10 + i) + ".txt"));
    LaunchOptions options = In(tree, {"*.txt", "needle"});
    if (std::string_view(reads) == "ring") options.reads = "ring";
    if (std::string_view(reads) == "environment")
      options.wrapper = {"/usr/bin/env", "QZ_TEST_READS=ring"};
    PtyTerminal t(options);
    ASSERT_TRUE(ReachPrompt(t, 1));
    const bool ring = HoldsRing(t.pid());
    EXPECT_TRUE(AnswerAndExit(t, "\x1b"));
    if (std::string_view(reads) == "ring") {
      if (!ring) GTEST_SKIP() << "io_uring cannot be set up here";
      continue;
    }
    EXPECT_EQ(ring, std::string_view(reads) == "cold" || std::string_view(reads) == "long")
        << "reads: " << reads;
  }
}

// The first child of `pid` (the program strace runs), or -1.
pid_t ChildOf(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  pid_t child = -1;
  return in >> child ? child : -1;
}

// LeakSanitizer cannot work under ptrace: while this lives, a sanitizer build of qz started
// under strace runs without it.
class NoLeakCheck {
 public:
  NoLeakCheck() {
    const char* asan = std::getenv("ASAN_OPTIONS");
    had_ = asan != nullptr;
    saved_ = asan ? asan : "";
    setenv("ASAN_OPTIONS", (saved_.empty() ? "" : saved_ + ":").append("detect_leaks=0").c_str(), 1);
  }
  ~NoLeakCheck() {
    if (had_) setenv("ASAN_OPTIONS", saved_.c_str(), 1);
    else unsetenv("ASAN_OPTIONS");
  }
  NoLeakCheck(const NoLeakCheck&) = delete;
  NoLeakCheck& operator=(const NoLeakCheck&) = delete;

 private:
  bool had_;
  std::string saved_;
};

// Every way a call into the ring can fail (memory pressure, a busy ring, a policy that
// interrupts or refuses the call) at the first call, a later one, or every one: qz neither
// hangs nor spins, reads what the ring did not with plain calls, holds no file open at a
// prompt, and ends with the summary plain reads give. Run under the sanitizers, this also
// shows that no read lands in memory already given back.
TEST(Pipeline, FailingRingCallsFallBackToPlainReads) {
  if (RunsUnderWrapper()) GTEST_SKIP() << "runs under " << EnvironmentWrapper()[0];
  if (!HaveProgram("strace")) GTEST_SKIP() << "strace is not installed";
  TempTree tree;
  for (int i = 0; i < 50; ++i) tree.File("f" + std::to_string(10 + i) + ".txt", Repeat('.', 100000));
  tree.File("m.txt", "needle" + Repeat('.', 100000));
  for (int i = 0; i < 50; ++i) tree.File("n" + std::to_string(10 + i) + ".txt", Repeat('.', 70000));
  tree.File("z.txt", ".needle");
  const NoLeakCheck underStrace;
  // The adaptive runs read a cold tree, so that reads are still in flight when the ring fails
  // and are reaped after it is given up.
  const std::vector<std::pair<std::string, std::string>> runs = {
      {"EAGAIN:when=1", "ring"},     {"EBUSY:when=2", "ring"},      {"ENOMEM:when=4", "ring"},
      {"EINTR:when=1+", "ring"},     {"EAGAIN:when=3+", "ring"},    {"EAGAIN:when=3", "adaptive"},
      {"EBUSY:when=4", "adaptive"},
  };
  for (const auto& [fault, reads] : runs) {
    if (reads == "adaptive") {
      for (const fs::directory_entry& entry : fs::directory_iterator(tree.path()))
        Evict(entry.path().string());
    }
    LaunchOptions options = In(tree, {"*.txt", "needle"});
    options.reads = reads;
    options.wrapper = {"strace", "-f", "-qq", "-o", "/dev/null", "-e",
                       "inject=io_uring_enter:error=" + fault};
    PtyTerminal t(options);
    ASSERT_TRUE(ReachPrompt(t, 1)) << fault << "\n" << Describe(t);
    EXPECT_EQ(t.Row(0), "Found in ./m.txt - position 0:") << fault;
    const pid_t qz = ChildOf(t.pid());
    EXPECT_GT(qz, 0);
    EXPECT_EQ(OpenUnder(qz, tree.path()), std::vector<std::string>{}) << fault;
    t.SendKeys("n");
    const Walkthrough walk = AnswerEveryPrompt(t, "n", 1);
    EXPECT_TRUE(ExitedWithZero(walk.exit)) << fault << "\n" << Describe(t);
    ASSERT_EQ(walk.headers.size(), 1u) << fault << "\n" << Describe(t);
    EXPECT_EQ(walk.headers[0], "Found in ./z.txt - position 1:") << fault;
    ExpectCounts(t, "2 files", "2 occurrences");
  }
}

// A ring that cannot be set up is tried once: the walk over a cold tree, whose reads keep
// finding the disk, goes on with plain reads and the report they give, without asking for the
// ring again at every read that waits.
TEST(Pipeline, ARingThatCannotBeSetUpIsTriedOnce) {
#ifdef QZ_E2E_PORTABLE
  GTEST_SKIP() << "a build without io_uring";
#endif
  if (RunsUnderWrapper()) GTEST_SKIP() << "runs under " << EnvironmentWrapper()[0];
  if (!HaveProgram("strace")) GTEST_SKIP() << "strace is not installed";
  TempTree tree, log;
  for (int i = 0; i < 60; ++i) tree.File("f" + std::to_string(10 + i) + ".txt", Repeat('.', 70000));
  tree.File("z.txt", ".needle");
  for (const fs::directory_entry& entry : fs::directory_iterator(tree.path()))
    Evict(entry.path().string());
  const NoLeakCheck underStrace;
  LaunchOptions options = In(tree, {"*.txt", "needle"});
  options.wrapper = {"strace", "-f", "-qq", "-o", log.Path("calls"), "-e", "trace=io_uring_setup",
                     "-e", "inject=io_uring_setup:error=ENOMEM"};
  PtyTerminal t(options);
  EXPECT_TRUE(WalksThrough(t, {"Found in ./z.txt - position 1:"}));
  EXPECT_EQ(CountOccurrences(ReadAll(log.Path("calls")), "io_uring_setup("), 1u)
      << ReadAll(log.Path("calls"));
}

// Whether `pid` is stopped at or in system call `number` with the arguments `args` (the first
// ones, as /proc shows them: in hexadecimal; an empty one matches any).
bool InSystemCall(pid_t pid, long number, const std::vector<std::string>& args) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/syscall");
  long found = -1;
  if (!(in >> found) || found != number) return false;
  for (const std::string& want : args) {
    std::string arg;
    if (!(in >> arg) || (!want.empty() && arg != want)) return false;
  }
  return true;
}

// qz (started by strace, the child of `tracer`), held back by strace where `held` (given its
// process id) says it is: waits until it is stopped there.
template <typename Held>
testing::AssertionResult HeldWhere(pid_t tracer, Held held) {
  if (WaitFor([&] {
        const pid_t qz = ChildOf(tracer);
        return qz > 0 && held(qz);
      }, 8000, 2))
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << "qz was never held where the test waits for it";
}

// Held at a call of `call` with `args`.
testing::AssertionResult HeldAt(pid_t tracer, long SystemCalls::*call,
                                const std::vector<std::string>& args) {
  return HeldWhere(tracer,
                   [&](pid_t qz) { return InSystemCall(qz, SystemCallsOf(qz).*call, args); });
}

// Held in the listing of a directory whose path ends with `ending` (a read of its entries).
testing::AssertionResult HeldInListing(pid_t tracer, const std::string& ending) {
  return HeldWhere(tracer, [&](pid_t qz) {
    std::ifstream in("/proc/" + std::to_string(qz) + "/syscall");
    long number = -1;
    std::string fd;
    if (!(in >> number >> fd) || number != SystemCallsOf(qz).getdents64) return false;
    std::error_code error;
    const std::string listed = fs::read_symlink("/proc/" + std::to_string(qz) + "/fd/" +
                                                    std::to_string(std::stoul(fd, nullptr, 16)),
                                                error).string();
    return listed.size() >= ending.size() &&
           listed.compare(listed.size() - ending.size(), ending.size(), ending) == 0;
  });
}

// Writes `content` over the start of the file at `path`, in place: the same file, the same
// size, no truncation.
void WriteInPlace(const std::string& path, std::string_view content) {
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0) << path;
  EXPECT_EQ(pwrite(fd, content.data(), content.size(), 0), static_cast<ssize_t>(content.size()));
  close(fd);
}

// Files changed after they were read ahead and before their turn, with no prompt between: the
// change is made while qz is held back in its second read of the file before them (strace
// delays every such call a quarter of a second). One truncated to nothing shows nothing; one rewritten in place shows what
// it holds at its turn, never its old first part joined to its new rest. Every way of reading
// gives the same report.
TEST(Pipeline, AFileChangedAfterItWasReadAheadIsReadAsItIsAtItsTurn) {
  if (RunsUnderWrapper()) GTEST_SKIP() << "runs under " << EnvironmentWrapper()[0];
  if (!HaveProgram("strace")) GTEST_SKIP() << "strace is not installed";
  const NoLeakCheck underStrace;
  for (const std::string reads : {"ring", "plain", "adaptive"}) {
    for (const bool truncated : {true, false}) {
      TempTree tree;
      // Its second part is read with a plain call (64 KiB at 64 KiB), where qz is held.
      tree.File("a.txt", Repeat('.', 200000));
      // Truncated: the word goes. Rewritten: "nee" ends the first part read ahead and "dle"
      // begins the rest, but neither text holds the word.
      tree.File("b.txt", truncated ? "needle" : Repeat('x', 65533) + "neeXYZ");
      tree.File("c.txt", "needle");
      LaunchOptions options = In(tree, {"*.txt", "needle"});
      options.reads = reads;
      options.wrapper = {"strace", "-f", "-qq", "-o", "/dev/null", "-e",
                         "inject=pread64:delay_enter=250000"};
      PtyTerminal t(options);
      const std::string run = reads + (truncated ? ", truncated" : ", rewritten");
      ASSERT_TRUE(HeldAt(t.pid(), &SystemCalls::pread64, {"", "", "0x10000", "0x10000"}))
          << run << "\n" << Describe(t);
      if (truncated) ASSERT_EQ(truncate(tree.Path("b.txt").c_str(), 0), 0);
      else WriteInPlace(tree.Path("b.txt"), Repeat('z', 65536) + "dle");
      const Walkthrough walk = AnswerEveryPrompt(t);
      EXPECT_TRUE(ExitedWithZero(walk.exit)) << run << "\n" << Describe(t);
      EXPECT_EQ(walk.headers, std::vector<std::string>{"Found in ./c.txt - position 0:"}) << run;
      ExpectCounts(t, "1 file", "1 occurrence");
    }
  }
}

// A directory renamed, and another made under its name, after it was opened for its listing
// and before its files are opened (qz held back in the read of its entries, no prompt after):
// the files are those the paths name when qz opens them, at every descriptor limit (with one
// descriptor free, files are opened by their full paths) and every way of reading; with the
// ring, the directory's path is checked once its files have been opened through the old one.
TEST(Pipeline, ADirectoryRenamedWhileItsFilesAreOpenedGivesTheFilesItsPathNames) {
  if (RunsUnderWrapper()) GTEST_SKIP() << "runs under " << EnvironmentWrapper()[0];
  if (!HaveProgram("strace")) GTEST_SKIP() << "strace is not installed";
  const NoLeakCheck underStrace;
  const std::vector<std::string> limits = {
      "true",
      "ulimit -n 20",
      // One descriptor left free: all others are inherited.
      "ulimit -n 40 && for i in $(seq 3 38); do eval \"exec $i</dev/null\"; done",
  };
  for (const std::string reads : {"ring", "plain", "adaptive"}) {
    for (const std::string& limit : limits) {
      TempTree tree;
      tree.File("d/a.txt", "needle");
      tree.File("d/b.txt", "needle");
      tree.File("d/c.txt", "needle");
      LaunchOptions options = In(tree, {"*.txt", "needle", "/s"});
      options.reads = reads;
      // strace needs descriptors of its own: the limit is set in the shell it runs, which then
      // becomes qz.
      options.wrapper = {"strace", "-f", "-qq", "-o", "/dev/null", "-e",
                         "inject=getdents64:delay_enter=150000", "/bin/bash", "-c",
                         limit + " && exec \"$@\"", "bash"};
      PtyTerminal t(options);
      const std::string run = reads + ", " + limit;
      ASSERT_TRUE(HeldInListing(t.pid(), "/d")) << run << "\n" << Describe(t);
      fs::rename(tree.Path("d"), tree.Path("d.old"));
      tree.File("d/b.txt", "..needle");
      const Walkthrough walk = AnswerEveryPrompt(t);
      EXPECT_TRUE(ExitedWithZero(walk.exit)) << run << "\n" << Describe(t);
      EXPECT_EQ(walk.headers, std::vector<std::string>{"Found in ./d/b.txt - position 2:"}) << run;
      ExpectCounts(t, "1 file", "1 occurrence");
    }
  }
}

// A file changed while the user reads its first match keeps the content it had: the later
// positions are those of the original, whether the file is read in parts or mapped.
TEST(Pipeline, AFileIsOneSnapshotTakenBeforeItsFirstPrompt) {
  for (const std::size_t size : {std::size_t{200000}, std::size_t{5} << 20}) {
    TempTree tree;
    std::string original(size, 'x');
    const std::size_t later = size - 1000;
    original.replace(10, 6, "needle");
    original.replace(later, 6, "needle");
    tree.File("f.txt", original);
    PtyTerminal t(In(tree, {"f.txt", "needle"}));
    ASSERT_TRUE(ReachPrompt(t, 1));
    // What an editor saving the file would leave: new text in front, the old occurrence moved.
    std::string edited = "needle needle " + original;
    std::ofstream(tree.Path("f.txt"), std::ios::binary | std::ios::trunc) << edited;
    const Walkthrough walk = AnswerEveryPrompt(t);
    EXPECT_TRUE(ExitedWithZero(walk.exit)) << Describe(t);
    const std::vector<std::string>& headers = walk.headers;
    ASSERT_EQ(headers.size(), 2u) << Describe(t);
    EXPECT_EQ(headers[1], "Found in ./f.txt - position " + std::to_string(later) + ":") << size;
    EXPECT_TRUE(HasRow(t, "2 occurrences of the text \"needle\"")) << Describe(t);
  }
}

// A file over 1 GiB is not taken in: it is read where it lies while its matches are shown, so
// what is written into it in place at a prompt shows in the matches after it.
TEST(Pipeline, AFileOver1GiBShowsWhatIsWrittenIntoItAtAPrompt) {
  if (RunsUnderWrapper()) GTEST_SKIP() << "too slow under " << EnvironmentWrapper()[0];
  TempTree tree;
  constexpr off_t kLater = (off_t{1} << 30) + 1000;
  constexpr off_t kMoved = kLater + 4000;
  const int fd = open(tree.Path("huge.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, (off_t{1} << 30) + (off_t{64} << 20)), 0);
  ASSERT_EQ(pwrite(fd, "needle", 6, 0), 6);
  ASSERT_EQ(pwrite(fd, "needle", 6, kLater), 6);
  PtyTerminal t(In(tree, {"huge.txt", "needle"}));
  const bool reached = ReachPrompt(t, 1);
  EXPECT_TRUE(reached) << Describe(t);
  if (reached) {
    ASSERT_EQ(pwrite(fd, "xxxxxx", 6, kLater), 6);
    ASSERT_EQ(pwrite(fd, "needle", 6, kMoved), 6);
  }
  close(fd);
  ASSERT_TRUE(reached);
  t.SendKeys("n");
  const Walkthrough walk = AnswerEveryPrompt(t, "n", 1, 60000);
  EXPECT_TRUE(ExitedWithZero(walk.exit)) << Describe(t);
  EXPECT_EQ(walk.headers,
            std::vector<std::string>{"Found in ./huge.txt - position " + std::to_string(kMoved) + ":"});
}

// The peak memory of the process, in bytes (VmHWM), or 0.
std::uint64_t PeakMemory(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6)) << 10;
  }
  return 0;
}

// A large file (mapped while it is scanned) is taken in before its first prompt without being
// in memory twice: the peak stays within the file's size and the fixed buffers.
TEST(Pipeline, TakingAMappedFileInCostsItsSizeOnce) {
  if (SanitizedOrWrapped()) GTEST_SKIP() << "the sanitizers and wrappers add memory of their own";
  TempTree tree;
  constexpr std::size_t kSize = std::size_t{600} << 20;
  {
    std::ofstream out(tree.Path("big.txt"), std::ios::binary);
    const std::string block(std::size_t{1} << 20, 'x');
    for (std::size_t i = 0; i < kSize / block.size(); ++i) out << block;
    out.seekp(static_cast<std::streamoff>(kSize - 100));
    out << "needle";
  }
  PtyTerminal t(In(tree, {"big.txt", "needle"}));
  ASSERT_TRUE(ReachPrompt(t, 1)) << Describe(t);
  EXPECT_EQ(t.Row(0), "Found in ./big.txt - position " + std::to_string(kSize - 100) + ":");
  const std::uint64_t peak = PeakMemory(t.pid());
  std::printf("peak memory with a file of %zu MiB: %llu MiB\n", kSize >> 20,
              static_cast<unsigned long long>(peak >> 20));
  EXPECT_GT(peak, kSize);
  EXPECT_LT(peak, kSize + (std::uint64_t{64} << 20));
  EXPECT_TRUE(AnswerAndExit(t, "\x1b"));
}

// An entry the listing saw as a regular file and that is swapped for a link to a FIFO or a
// device while the user sits at a prompt is not opened: a writer waiting for a reader of the
// FIFO stays blocked, and nothing from the device is read. The writer blocks before qz goes
// on, so that opening the FIFO would let it through; once qz has ended, a writer let through
// is no longer waiting (it was woken when the FIFO was opened), so no sleep is needed.
TEST(Pipeline, AnEntrySwappedForALinkToAFifoOrDeviceIsNotOpened) {
  TempTree tree;
  tree.File("a.txt", "needle");
  tree.File("b.txt", "needle");
  tree.File("c.txt", "needle");
  ASSERT_EQ(mkfifo(tree.Path("fifo").c_str(), 0644), 0);
  PtyTerminal t(In(tree, {"*.txt", "needle"}));
  ASSERT_TRUE(PromptWithHeader(t, 1, "Found in ./a.txt - position 0:"));
  fs::remove(tree.Path("b.txt"));
  tree.Symlink("b.txt", tree.Path("fifo"));
  fs::remove(tree.Path("c.txt"));
  tree.Symlink("c.txt", "/dev/zero");

  // A writer that blocks in open() until a reader comes.
  const pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    const int fd = open(tree.Path("fifo").c_str(), O_WRONLY);
    _exit(fd >= 0 ? 0 : 1);
  }
  EXPECT_TRUE(WaitFor([&] { return WaitsForAPartner(writer); }));
  EXPECT_TRUE(AnswerAndExit(t));
  EXPECT_TRUE(HasRow(t, "1 file found containing the text \"needle\"")) << Describe(t);
  EXPECT_TRUE(WaitsForAPartner(writer)) << "the FIFO was opened for reading";
  kill(writer, SIGKILL);
  int status = 0;
  waitpid(writer, &status, 0);
}

// An entry swapped for a FIFO itself while the user sits at a prompt is not opened, whichever
// way files are read: a writer waiting for a reader stays blocked.
TEST(Pipeline, AnEntrySwappedForAFifoAtAPromptIsNotOpened) {
  for (const char* reads : {"plain", "ring"}) {
    TempTree tree;
    tree.File("a.txt", "needle");
    tree.File("b.txt", "needle");
    tree.File("c.txt", "needle");
    PtyTerminal t(In(tree, {"*.txt", "needle"}, {.reads = reads}));
    ASSERT_TRUE(ReachPrompt(t, 1)) << reads;
    fs::remove(tree.Path("b.txt"));
    ASSERT_TRUE(MakeFifo(tree, "b.txt"));
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
      const int fd = open(tree.Path("b.txt").c_str(), O_WRONLY);
      _exit(fd >= 0 ? 0 : 1);
    }
    EXPECT_TRUE(WaitFor([&] { return WaitsForAPartner(writer); }));
    t.SendKeys("n");
    const Walkthrough walk = AnswerEveryPrompt(t, "n", 1);
    EXPECT_TRUE(ExitedWithZero(walk.exit)) << Describe(t);
    EXPECT_EQ(walk.headers, std::vector<std::string>{"Found in ./c.txt - position 0:"}) << reads;
    EXPECT_TRUE(WaitsForAPartner(writer)) << "the FIFO was opened, reads: " << reads;
    kill(writer, SIGKILL);
    int status = 0;
    waitpid(writer, &status, 0);
  }
}

// A file is the one its path names when qz opens it, whatever the descriptor limit and however
// many descriptors qz inherits: a file whose path is longer than the system opens is passed
// over (though its directory is not), and a directory renamed at a prompt, with a new one put
// in its place, is read as it is then. The same tree gives the same reports at every limit.
TEST(Pipeline, TheSameReportsAtEveryDescriptorLimit) {
  if (RunsUnderWrapper()) GTEST_SKIP() << "runs under " << EnvironmentWrapper()[0];
  const std::vector<std::pair<std::string, std::string>> limits = {
      {"ulimit -n 20", ""},
      {"ulimit -n 100", ""},
      {"ulimit -n 1024", ""},
      // One descriptor left free: all others are inherited.
      {"ulimit -n 40", "for i in $(seq 3 38); do eval \"exec $i</dev/null\"; done"},
  };
  for (const auto& [limit, inherit] : limits) {
    TempTree tree;
    tree.File("a.txt", "needle");
    std::string deep = "z";
    for (int i = 0; i < 16; ++i) deep += "/" + Repeat(static_cast<char>('a' + i), 250);
    tree.File(deep + "/x.txt", "needle");  // a path of about 4,030 bytes
    tree.File(deep + "/" + Repeat('n', 246) + ".txt", "needle");  // over 4,096
    tree.File("d/a.txt", "needle");
    tree.File("d/b.txt", "needle");
    LaunchOptions options = In(tree, {"*.txt", "needle", "/s"});
    options.wrapper = {"/bin/bash", "-c", limit + " && " + (inherit.empty() ? "" : inherit + " && ") +
                                              "exec \"$@\"", "bash"};
    PtyTerminal t(options);
    ASSERT_TRUE(ReachPrompt(t, 1)) << limit << "\n" << Describe(t);
    t.SendKeys("n");
    ASSERT_TRUE(ReachPrompt(t, 2)) << limit << "\n" << Describe(t);
    EXPECT_EQ(t.Row(0), "Found in ./d/a.txt - position 0:") << limit;
    fs::rename(tree.Path("d"), tree.Path("e"));
    tree.File("d/b.txt", "..needle");
    t.SendKeys("n");
    ASSERT_TRUE(ReachPrompt(t, 3)) << limit << "\n" << Describe(t);
    EXPECT_EQ(t.Row(0), "Found in ./d/b.txt - position 2:") << limit;
    t.SendKeys("n");
    const Walkthrough walk = AnswerEveryPrompt(t, "n", 3);
    EXPECT_TRUE(ExitedWithZero(walk.exit)) << limit << "\n" << Describe(t);
    EXPECT_EQ(walk.headers.size(), 1u) << limit << "\n" << Describe(t);
    const std::string& raw = t.Transcript();
    EXPECT_NE(raw.find("/x.txt - position 0:"), std::string::npos) << limit;
    EXPECT_EQ(raw.find("nnnn.txt"), std::string::npos) << limit;
    ExpectCounts(t, "4 files", "4 occurrences");
  }
}

// With the ring, the files of the directories after the one being searched are opened ahead,
// each directory holding a descriptor: at every descriptor limit the walk gives the same
// reports in the same order, and the summary the same counts.
TEST(Pipeline, ReadingAheadAcrossDirectoriesGivesTheSameReportsAtEveryLimit) {
  if (RunsUnderWrapper()) GTEST_SKIP() << "runs under " << EnvironmentWrapper()[0];
  TempTree tree;
  for (int i = 0; i < 40; ++i) {
    const std::string dir = "d" + std::to_string(10 + i);
    tree.File(dir + "/a.txt", i % 13 == 5 ? "needle" : "nothing");
    tree.File(dir + "/b.txt", i % 17 == 3 ? "..needle" : "nothing either");
    if (i % 6 == 0) tree.File(dir + "/in/c.txt", i == 24 ? "a needle" : "none");
  }
  const std::vector<std::string> expected = {
      "Found in ./d13/b.txt - position 2:",    "Found in ./d15/a.txt - position 0:",
      "Found in ./d28/a.txt - position 0:",    "Found in ./d30/b.txt - position 2:",
      "Found in ./d34/in/c.txt - position 2:", "Found in ./d41/a.txt - position 0:",
      "Found in ./d47/b.txt - position 2:"};
  for (const std::string limit : {"-n 20", "-n 60", "-n 100", "-n 1024"}) {
    LaunchOptions options = Limited(tree, {"*.txt", "needle", "/s"}, limit);
    options.reads = "ring";
    PtyTerminal t(options);
    const Walkthrough walk = AnswerEveryPrompt(t);
    EXPECT_TRUE(ExitedWithZero(walk.exit)) << limit << "\n" << Describe(t);
    EXPECT_EQ(walk.headers, expected) << limit;
    ExpectCounts(t, "7 files", "7 occurrences");
  }
}

// Many links to one large directory cost a look each, not a listing each: the walk is done in
// about the time of the directory alone. (Timing is left to the benchmark; this checks the
// directory is searched once and the links add nothing.)
TEST(Pipeline, LinksToADirectoryAlreadyEnteredAddNothing) {
  TempTree tree;
  tree.File("data/x.txt", "needle");
  for (int i = 0; i < 300; ++i) tree.Symlink("links/l" + std::to_string(i), "../data");
  PtyTerminal t(In(tree, {"*.txt", "needle", "/s"}));
  const Walkthrough walk = AnswerEveryPrompt(t);
  EXPECT_TRUE(ExitedWithZero(walk.exit)) << Describe(t);
  const std::vector<std::string>& headers = walk.headers;
  ASSERT_EQ(headers.size(), 1u) << Describe(t);
  EXPECT_EQ(headers[0], "Found in ./data/x.txt - position 0:");
}

// Subdirectories swapped at a prompt for links: one to a directory the walk has entered (the
// root) is not entered again; one to a directory it has not (moved out of the listing's
// sight) is searched once, under the path shown. A directory is known by what is there when
// the walk enters it, not by what its listing saw. Every way of reading gives the same walk.
TEST(Pipeline, ASubdirectorySwappedAtAPromptForALinkIsNotSearchedTwice) {
  for (const std::string reads : {"ring", "plain", "adaptive"}) {
    TempTree tree;
    tree.File("a.txt", "needle");
    tree.File("b/x.txt", "needle");
    tree.File("c/y.txt", "needle");
    LaunchOptions options = In(tree, {"*.txt", "needle", "/s"});
    options.reads = reads;
    PtyTerminal t(options);
    ASSERT_TRUE(PromptWithHeader(t, 1, "Found in ./a.txt - position 0:")) << reads;
    fs::rename(tree.Path("b"), tree.Path("b.old"));
    fs::create_directory_symlink(".", tree.Path("b"));
    fs::rename(tree.Path("c"), tree.Path("c.old"));
    fs::create_directory_symlink("b.old", tree.Path("c"));
    t.SendKeys("n");
    const Walkthrough walk = AnswerEveryPrompt(t, "n", 1);
    EXPECT_TRUE(ExitedWithZero(walk.exit)) << reads << "\n" << Describe(t);
    EXPECT_EQ(walk.headers, std::vector<std::string>{"Found in ./c/x.txt - position 0:"}) << reads;
    ExpectCounts(t, "2 files", "2 occurrences");
  }
}

// A FUSE view over two file systems (bindfs over two tmpfs mounts, in a mount namespace of its
// own) passes their inode numbers through under one device number, so distinct directories
// share them: every file is still found, and links back into the tree still end the walk.
TEST(Pipeline, EveryDirectoryIsSearchedWhereInodeNumbersRepeat) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting needs root";
  if (!HaveProgram("unshare") || !HaveProgram("bindfs")) GTEST_SKIP() << "unshare or bindfs missing";
  if (RunProgram({"unshare", "-m", "true"}) != 0) GTEST_SKIP() << "no mount namespaces here";
  if (access("/dev/fuse", R_OK | W_OK) != 0) GTEST_SKIP() << "no FUSE device here";
  TempTree tree;
  const std::string script = R"(set -e
mkdir -p src/one src/two view
mount -t tmpfs none src/one
mount -t tmpfs none src/two
for d in one two; do
  mkdir -p src/$d/a/b src/$d/c
  for f in a/x.txt a/b/y.txt c/z.txt; do echo needle > src/$d/$f; done
done
ln -s .. src/one/a/loop
ln -s ../../one src/two/c/up
bindfs src view
view=$PWD/view
cd view
set +e
"$@"
status=$?
cd /
umount "$view"
exit $status)";
  PtyTerminal t(In(tree, {"*.txt", "needle", "/s"},
                   {.wrapper = {"unshare", "-m", "/bin/sh", "-c", script, "sh"}}));
  EXPECT_TRUE(WalksThrough(t, {"Found in ./one/a/x.txt - position 0:",
                               "Found in ./one/a/b/y.txt - position 0:",
                               "Found in ./one/c/z.txt - position 0:",
                               "Found in ./two/a/x.txt - position 0:",
                               "Found in ./two/a/b/y.txt - position 0:",
                               "Found in ./two/c/z.txt - position 0:"}));
}

// The deepest tree the system lets a path reach (about 2,000 levels) on a 256 KiB stack.
TEST(Pipeline, TheDeepestTreeRunsOnASmallStack) {
  if (SanitizedOrWrapped()) GTEST_SKIP() << "the sanitizers and wrappers need a larger stack";
  TempTree tree;
  tree.File("top.txt", "needle");
  // Built a level at a time from the level above, as the full path nears the system's limit.
  ASSERT_TRUE(MakeChain(tree.path(), std::vector<std::string>(2000, "d"), {{"f.txt", 2000}},
                        "a needle at the bottom"));
  PtyTerminal t(Limited(tree, {"*.txt", "needle", "/s"}, "-s 256"));
  const Walkthrough walk = AnswerEveryPrompt(t, "n", 0, 60000);
  EXPECT_TRUE(ExitedWithZero(walk.exit)) << Describe(t);
  const std::vector<std::string>& headers = walk.headers;
  EXPECT_EQ(headers.size(), 2u) << Describe(t);
  EXPECT_TRUE(HasRow(t, "2 occurrences of the text \"needle\"")) << Describe(t);
}

// Address space too small for a directory of 60,000 entries with long names (15 MiB of them),
// or for the copies of a search text of 128 KiB: what does not fit is passed over and the run
// ends with its summary. The directory holds an occurrence, which a run that listed it would
// report. Long names make the listing large with few entries, and the tree is in memory where
// it can be: both keep its making and removal cheap.
TEST(Pipeline, RunningOutOfMemoryPassesOverAndEndsWithTheSummary) {
  if (SanitizedOrWrapped()) GTEST_SKIP() << "the sanitizers and wrappers reserve address space";
  TempTree tree("/dev/shm");
  tree.File("a.txt", "needle");
  tree.File("z.txt", "needle");
  tree.File("zz/after.txt", "needle");
  tree.File("big/a-needle.txt", "needle");
  const std::string room(240, 'r');
  for (int i = 0; i < 60000; ++i) {
    const int fd = open(tree.Path("big/entry-" + room + std::to_string(i) + ".txt").c_str(),
                        O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
  }
  {
    PtyTerminal t(Limited(tree, {"*.txt", "needle", "/s"}, "-v 16000"));
    const Walkthrough walk = AnswerEveryPrompt(t, "n", 0, 60000);
    EXPECT_TRUE(ExitedWithZero(walk.exit)) << Describe(t);
    EXPECT_EQ(walk.headers, (std::vector<std::string>{"Found in ./a.txt - position 0:",
                                                      "Found in ./z.txt - position 0:",
                                                      "Found in ./zz/after.txt - position 0:"}))
        << Describe(t);
    EXPECT_TRUE(HasRow(t, "3 occurrences of the text \"needle\"")) << Describe(t);
  }
  {
    const std::string text((128 << 10) - 1, 'q');  // the longest argument the system passes
    tree.File("q.txt", "x" + text + "x");
    PtyTerminal t(Limited(tree, {"q.txt", text}, "-v 16000"));
    const ExitStatus exit = AnswerEveryPrompt(t, "n", 0, 60000).exit;
    EXPECT_TRUE(ExitedWithZero(exit)) << Describe(t);
    EXPECT_NE(t.Transcript().find("Search complete"), std::string::npos) << Describe(t);
  }
}

// The report of a run under `ulimit -v limit` (in KiB) with the files read `reads` (through the
// subdirectories too, with `recursive`): the header
// at each prompt, then the count of occurrences the summary gives ("30 occurrences"), or
// nothing when there was no summary.
// A run that does not even start (the limit is below what the loader maps) has neither.
std::vector<std::string> ReportUnderLimit(const TempTree& tree, const std::string& reads,
                                          int limit, bool recursive,
                                          bool mustExitCleanly = true) {
  std::vector<std::string> args = {"*.txt", "needle"};
  if (recursive) args.push_back("/s");
  LaunchOptions options = Limited(tree, args, "-v " + std::to_string(limit));
  options.reads = reads;
  PtyTerminal t(options);
  Walkthrough walk = AnswerEveryPrompt(t, "n", 0, 60000);
  if (mustExitCleanly) {
    EXPECT_TRUE(ExitedWithZero(walk.exit)) << reads << " " << limit << "\n" << Describe(t);
  }
  const std::string& raw = t.Transcript();
  const std::size_t end = raw.find(" of the text \"needle\"");
  const std::size_t start = end == std::string::npos ? end : raw.rfind('\n', end);
  walk.headers.push_back(start == std::string::npos ? "" : raw.substr(start + 1, end - start - 1));
  return walk.headers;
}

// At the tightest limit, to 256 KiB, under which plain reads show all 30 occurrences in `tree`,
// reading ahead (with the ring from the start, or as it comes) shows the same.
void ExpectReadAheadLosesNothingAtTheTightestLimit(const TempTree& tree, bool recursive) {
  const std::string all = "30 occurrences";
  int low = 2048, high = 65536;
  ASSERT_EQ(ReportUnderLimit(tree, "plain", high, recursive).back(), all);
  while (high - low > 256) {
    const int middle = (low + high) / 2;
    (ReportUnderLimit(tree, "plain", middle, recursive, false).back() == all ? high : low) =
        middle;
  }
  const std::vector<std::string> plain = ReportUnderLimit(tree, "plain", high, recursive);
  ASSERT_EQ(plain.size(), 31u);
  for (const std::string reads : {"ring", "adaptive"})
    EXPECT_EQ(ReportUnderLimit(tree, reads, high, recursive), plain) << reads << " at -v " << high;
}

// A file taken in whole before its first report, with three occurrences.
std::string ThreeInThreeMegabytes() {
  std::string content = Repeat('.', 3000000);
  for (int k = 0; k < 3; ++k) content.replace(k * 1000000 + 123, 6, "needle");
  return content;
}

// Memory so short that the read-ahead's buffers (2 MiB) would crowd out the search: at the
// tightest limit under which plain reads show every occurrence, reading ahead shows the same,
// as the read-ahead gives its memory back before any file or occurrence is passed over. Each
// occurrence shown is counted, and none that was not.
TEST(Pipeline, MemoryShortForTheReadAheadLosesNoOccurrence) {
  if (SanitizedOrWrapped()) GTEST_SKIP() << "the sanitizers and wrappers reserve address space";
  TempTree tree;
  for (int i = 0; i < 10; ++i) tree.File("f" + std::to_string(i) + ".txt", ThreeInThreeMegabytes());
  ExpectReadAheadLosesNothingAtTheTightestLimit(tree, false);
}

// The same across directories, where the walk lists directories ahead for the read-ahead:
// listings ahead of their turn give way to the search as well.
TEST(Pipeline, MemoryShortForListingAheadLosesNoOccurrence) {
  if (SanitizedOrWrapped()) GTEST_SKIP() << "the sanitizers and wrappers reserve address space";
  TempTree tree;
  for (int i = 0; i < 10; ++i) {
    const std::string dir = "d" + std::to_string(i);
    tree.File(dir + "/f.txt", ThreeInThreeMegabytes());
    for (int k = 0; k < 20; ++k) tree.File(dir + "/s" + std::to_string(k) + "/" + Repeat('n', 200) + ".txt", "none");
  }
  ExpectReadAheadLosesNothingAtTheTightestLimit(tree, true);
}

}  // namespace
}  // namespace qz_e2e
