#include "search/read_ahead-posix.h"

#include <fcntl.h>
#include <liburing.h>
#include <sys/resource.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string_view>
#include <utility>

namespace {

// How much of each file is read ahead: the content stream's part.
constexpr std::size_t kAheadBytes = std::size_t{64} << 10;
constexpr unsigned kRingEntries = 2 * kFilesReadAhead;
constexpr int kOpenFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
// Reading ahead holds the ring, the directory and the files ahead open. Under a descriptor
// limit lower than this there is none to spare: every file is opened in its turn by its path,
// so that the file being searched and the keyboard still get one.
constexpr rlim_t kDescriptorsForReadAhead = 4 * kFilesReadAhead;

enum class SlotState { Idle, Opening, Reading, Done, Failed };

struct Slot {
  PlannedFile file;
  SlotState state = SlotState::Idle;
  int fd = -1;
  int error = 0;  // of a failed open
  struct stat st = {};
  std::string bytes;
};

// The read-ahead of one run. It starts with plain calls, which serve files in the page cache
// fastest; the first read that would wait for the disk sets the ring up, and from then on the
// files ahead are opened and read through it. Without the ring (it cannot be set up, or a test
// asks for plain calls) every step below runs as a plain call at once and only the file whose
// turn it is gets opened, so both ways share one pipeline.
class ReadAhead {
 public:
  ~ReadAhead() {
    End();
    if (ringReady_) io_uring_queue_exit(&ring_);
  }

  void Plan(const std::string& directory, std::vector<PlannedFile> files) {
    End();
    if (files.empty()) return;
    SetUp();
    if (!enabled_) return;
    dirFd_ = open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    slots_.resize(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) slots_[i].file = std::move(files[i]);
  }

  // Closes what was opened ahead; the plan stays, so later files are opened again.
  void Drop() {
    WaitForAll();
    for (std::size_t i = next_; i < slots_.size(); ++i) Reset(slots_[i]);
  }

  void End() {
    Drop();
    slots_.clear();
    next_ = 0;
    if (dirFd_ >= 0) close(dirFd_);
    dirFd_ = -1;
  }

  bool Take(const std::string& path, TakenFile& taken) {
    if (next_ >= slots_.size() || slots_[next_].file.path != path) {
      // Not the file the plan expects next (the plan is stale): do without it.
      if (next_ < slots_.size()) End();
      return false;
    }
    const std::size_t k = next_++;
    Slot& slot = slots_[k];
    if (dirFd_ < 0 || !slot.file.knownRegular) return false;  // links take the careful way
    Fill(k);
    while ((slot.state == SlotState::Opening || slot.state == SlotState::Reading) && inFlight_ > 0)
      Reap(true);
    if (slot.state != SlotState::Done) {
      if (slot.error == EMFILE || slot.error == ENFILE) {
        // Descriptors ran short: give back those held ahead and read ahead less.
        Drop();
        window_ = window_ > 1 ? window_ / 2 : 1;
      }
      Reset(slot);
      return false;
    }
    taken.fd = slot.fd;
    taken.st = slot.st;
    taken.bytes = std::move(slot.bytes);
    slot.fd = -1;
    slot.state = SlotState::Idle;
    return true;
  }

 private:
  void SetUp() {
    if (setUp_) return;
    setUp_ = true;
    struct rlimit limit;
    enabled_ = getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= kDescriptorsForReadAhead;
    if (!enabled_) return;
    // Tests choose the way: "plain" never sets the ring up, "ring" sets it up at once.
    const char* way = std::getenv("QZ_TEST_READS");
    const std::string_view chosen = way ? way : "";
    ringAllowed_ = chosen != "plain";
    if (chosen == "ring") StartRing();
  }

  // While the files come from the page cache, plain calls cost less than the ring; once a read
  // would wait for the disk, the ring keeps many reads in flight for the rest of the run.
  void StartRing() {
    if (ringReady_ || !ringAllowed_) return;
    ringAllowed_ = false;  // one try
    ringReady_ = io_uring_queue_init(kRingEntries, &ring_, 0) == 0;
    if (ringReady_) window_ = kFilesReadAhead;
  }

  // A plain read of the first part of a file, which tells whether the page cache held it.
  ssize_t ReadFirstPart(int fd, char* into, std::size_t want) {
    ssize_t got;
    if (ringAllowed_) {
      struct iovec part = {into, want};
      do got = preadv2(fd, &part, 1, -1, RWF_NOWAIT);
      while (got < 0 && errno == EINTR);
      if (got >= 0) return got;
      if (errno == EAGAIN || errno == EOPNOTSUPP) StartRing();  // from the disk: read ahead
    }
    do got = read(fd, into, want);
    while (got < 0 && errno == EINTR);
    return got;
  }

  void Reset(Slot& slot) {
    if (slot.fd >= 0) close(slot.fd);
    slot.fd = -1;
    slot.state = SlotState::Idle;
    slot.error = 0;
    std::string().swap(slot.bytes);
  }

  // Starts the opens of the file at `k` and of those after it, up to the window. The window is
  // topped up in batches, once half of it has been taken, so that one system call starts many
  // opens.
  void Fill(std::size_t k) {
    const std::size_t end = std::min(slots_.size(), k + window_);
    std::size_t idle = 0;
    for (std::size_t i = k; i < end; ++i) idle += slots_[i].state == SlotState::Idle;
    if (slots_[k].state != SlotState::Idle && 2 * idle < window_) return;
    for (std::size_t i = k; i < end; ++i) {
      Slot& slot = slots_[i];
      if (slot.state != SlotState::Idle || !slot.file.knownRegular) continue;
      if (!StartOpen(i)) break;
    }
    Submit();
  }

  void Submit() {
    if (ringReady_ && unsubmitted_) io_uring_submit(&ring_);
    unsubmitted_ = false;
  }

  bool StartOpen(std::size_t i) {
    Slot& slot = slots_[i];
    slot.state = SlotState::Opening;
    if (!ringReady_) {
      const int fd = openat(dirFd_, slot.file.name.c_str(), kOpenFlags);
      Completed(i, fd >= 0 ? fd : -errno);
      return true;
    }
    io_uring_sqe* sqe = io_uring_get_sqe(&ring_);
    if (!sqe) {
      slot.state = SlotState::Idle;
      return false;
    }
    io_uring_prep_openat(sqe, dirFd_, slot.file.name.c_str(), kOpenFlags, 0);
    io_uring_sqe_set_data64(sqe, i);
    ++inFlight_;
    unsubmitted_ = true;
    return true;
  }

  void StartRead(std::size_t i) {
    Slot& slot = slots_[i];
    const auto size = static_cast<std::uint64_t>(slot.st.st_size);
    const std::size_t want = size < kAheadBytes ? static_cast<std::size_t>(size) : kAheadBytes;
    try {
      slot.bytes.resize(want);
    } catch (const std::bad_alloc&) {
      slot.state = SlotState::Failed;  // the file is read at its turn, as if never planned
      return;
    }
    slot.state = SlotState::Reading;
    // Read at the file's position, which the read advances, so the rest follows on.
    io_uring_sqe* sqe = ringReady_ ? io_uring_get_sqe(&ring_) : nullptr;
    if (!sqe) {
      const ssize_t got = ReadFirstPart(slot.fd, slot.bytes.data(), want);
      Completed(i, got >= 0 ? static_cast<int>(got) : -errno);
      return;
    }
    io_uring_prep_read(sqe, slot.fd, slot.bytes.data(), static_cast<unsigned>(want),
                       static_cast<std::uint64_t>(-1));
    io_uring_sqe_set_data64(sqe, i);
    ++inFlight_;
    unsubmitted_ = true;
  }

  // The open or read of slot `i` ended with `result` (a descriptor or byte count, or -errno).
  void Completed(std::size_t i, int result) {
    Slot& slot = slots_[i];
    if (slot.state == SlotState::Opening) {
      if (result < 0) {
        slot.state = SlotState::Failed;
        slot.error = -result;
        return;
      }
      slot.fd = result;
      // Opened without following a link and without blocking; nothing is read from it unless
      // it is a regular file.
      if (fstat(slot.fd, &slot.st) != 0 || !S_ISREG(slot.st.st_mode)) {
        slot.state = SlotState::Failed;
        return;
      }
      if (slot.st.st_size == 0) {
        slot.state = SlotState::Done;
        return;
      }
      StartRead(i);
      return;
    }
    if (slot.state == SlotState::Reading) {
      if (result < 0) {
        slot.state = SlotState::Failed;
        return;
      }
      slot.bytes.resize(static_cast<std::size_t>(result));
      slot.state = SlotState::Done;
    }
  }

  // Handles the completions there are; with `wait`, waits for one first.
  void Reap(bool wait) {
    if (!ringReady_ || inFlight_ == 0) return;
    io_uring_cqe* cqe = nullptr;
    int got = wait ? io_uring_wait_cqe(&ring_, &cqe) : io_uring_peek_cqe(&ring_, &cqe);
    while (got == 0 && cqe) {
      const auto i = static_cast<std::size_t>(io_uring_cqe_get_data64(cqe));
      const int result = cqe->res;
      io_uring_cqe_seen(&ring_, cqe);
      --inFlight_;
      if (i < slots_.size()) Completed(i, result);
      cqe = nullptr;
      got = io_uring_peek_cqe(&ring_, &cqe);
    }
    Submit();  // the reads of the files whose opens came in
    if (wait && got < 0 && got != -EAGAIN && got != -EINTR) Abandon();
  }

  void WaitForAll() {
    while (ringReady_ && inFlight_ > 0) Reap(true);
  }

  // The ring failed: nothing more is expected from it, and the plain calls take over.
  void Abandon() {
    io_uring_queue_exit(&ring_);
    ringReady_ = false;
    inFlight_ = 0;
    window_ = 1;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      Slot& slot = slots_[i];
      if (slot.state == SlotState::Opening || slot.state == SlotState::Reading) {
        // An open the ring may yet have done cannot be told apart from one it did not do; the
        // file is opened again at its turn.
        slot.state = SlotState::Failed;
        slot.fd = -1;
      }
    }
  }

  bool setUp_ = false;
  bool enabled_ = true;  // the descriptor limit leaves room to read ahead
  bool ringAllowed_ = false;  // the ring may still be set up when the disk is met
  bool ringReady_ = false;
  io_uring ring_ = {};
  std::size_t window_ = 1;   // how many files may be open ahead at once
  unsigned inFlight_ = 0;    // operations the ring has not completed
  bool unsubmitted_ = false; // operations prepared but not handed to the kernel yet
  int dirFd_ = -1;
  std::vector<Slot> slots_;
  std::size_t next_ = 0;     // the slot of the file whose turn comes next
};

ReadAhead& TheReadAhead() {
  static ReadAhead readAhead;
  return readAhead;
}

}  // namespace

bool TakeReadAhead(const std::string& path, TakenFile& taken) {
  return TheReadAhead().Take(path, taken);
}

void PlanFileReads(const std::string& directory, std::vector<PlannedFile> files) {
  TheReadAhead().Plan(directory, std::move(files));
}

void DropReadAhead() { TheReadAhead().Drop(); }

void EndFileReads() { TheReadAhead().End(); }
