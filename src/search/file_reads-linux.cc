// Opening and reading ahead on POSIX (Linux): the files of the directory being searched are
// opened relative to its descriptor and their first part read, a bounded number at a time,
// through io_uring once a read has had to wait for the disk or the walk has grown long; until
// then, and where io_uring cannot be set up or has failed, the same steps run as plain calls,
// one file at a time.
#include "search/file_reads.h"

#include <fcntl.h>
#include <liburing.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <utility>

#include "search/checked_open-posix.h"
#include "search/file_window.h"

namespace {

// How much of each file is read ahead: the part the file window reads at a time.
constexpr std::size_t kAheadBytes = FileWindow::kPartSize;
constexpr unsigned kRingEntries = 2 * kFilesReadAhead;
// Descriptors kept free for other uses while reading ahead: the directory's, the ring's, the
// file being searched and the keyboard (opened for each key when no standard stream is the
// terminal).
constexpr int kReservedDescriptors = 4;
// While files come from the page cache, one first read in this many asks whether it may be
// done without waiting (a read that asks costs more than one that does not); the first file
// of the run always asks. Once a file is found on the disk, at most this many more are read
// one at a time before the ring takes over.
constexpr unsigned kProbeEvery = 8;
// A walk this many files long sets the ring up even while they come from the page cache: it
// opens and reads many files a system call, and lends what it read where it lies, which over
// a long walk more than pays for setting it up (about a millisecond).
constexpr std::uint64_t kRingAfterFiles = 1024;
// A wait for the ring interrupted this many times in a row (by signals, or by a policy that
// answers every call so) gives the ring up.
constexpr int kWaitRetries = 4;

// How many more descriptors this process can open, counted up to `enough`: what the read-ahead
// may take is what is free, whatever the limit says, as descriptors may be inherited.
int FreeDescriptors(int enough) {
  const int base = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (base < 0) return 0;
  std::vector<int> taken{base};
  while (static_cast<int>(taken.size()) < enough) {
    const int fd = fcntl(base, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) break;
    taken.push_back(fd);
  }
  for (const int fd : taken) close(fd);
  return static_cast<int>(taken.size());
}

enum class SlotState {
  Idle,     // nothing started
  Opening,  // an open is under way
  Reading,  // open; the first part is being read
  Done,     // open, first part read (or nothing to read ahead): ready to hand over
  HandedOver,  // the file is the search's; its first part waits here for its first read
  Passed,   // not a regular file, or not there: passed over
  Retry,    // not done ahead (descriptors or memory short, or the ring given up): open in turn
};

// What is under way for one planned file. The window never holds more than kFilesReadAhead
// files, so a slot per place in the window serves the whole plan: file `i` takes slot
// `i % kFilesReadAhead`, and a plan of any length costs the same.
struct Slot {
  SlotState state = SlotState::Idle;
  bool queued = false;    // prepared on the ring but not handed to the kernel yet
  std::size_t index = 0;  // the planned file it is for, while not Idle
  int fd = -1;
  int error = 0;          // of a failed open
  bool ahead = false;     // opened before its turn (see TakeAsItIsNow)
  struct timespec measuredAt = {};  // the clock tick it was measured in (see TakeAsItIsNow)
  // Opened (or looked for) relative to the directory's descriptor, by its name: the place of
  // that open in the order such opens completed in, from 1 (see DirectoryStillThere); 0 when
  // opened by its path.
  std::uint64_t relative = 0;
  // What the file opened was when it was opened: which file, its size, its change and
  // modification times.
  dev_t device = 0;
  ino_t inode = 0;
  std::uint64_t size = 0;
  struct timespec changed = {}, modified = {};
  // The first part read ahead: memory kept from file to file (and only where the ring reads),
  // so that a file costs no allocation.
  std::unique_ptr<char[]> buffer;
  std::size_t got = 0;    // bytes of it read
};

}  // namespace

// While the files come from the page cache, plain calls cost less than the ring; once a read
// would wait for the disk, the ring keeps many reads in flight for the rest of the run. The
// kernel writes into the slots' buffers and fills in descriptors for as long as an operation
// is in flight, so no slot is released, reused or closed before its operation is reaped.
class FileReads::Impl {
 public:
  explicit Impl(ReadWay way) : way_(way) {}

  ~Impl() {
    End();
    CloseRing();
  }

  void Plan(const std::string& directory, std::vector<PlannedFile> files, OpenDirectory opened) {
    End();
    SetUp();
    directory_ = directory;
    files_ = std::move(files);
    next_ = 0;
    stale_ = false;
    pathsOnly_ = false;
    // The listing's own descriptor spares opening the directory again by its path.
    if (useDirectory_ && opened.get() >= 0) dirFd_ = static_cast<int>(opened.Release());
  }

  const PlannedFile* NextFile() { return next_ < files_.size() ? &files_[next_++] : nullptr; }

  OpenResult Open(const std::string& path, InputFile& file, std::uint64_t& length) {
    assert(next_ > 0 && "Open follows NextFile");
    const std::size_t index = next_ - 1;
    const PlannedFile& planned = files_[index];
    adopted_ = false;
    Slot& slot = SlotFor(index);
    // A path is the file: one longer than the system opens is passed over, whichever way the
    // file would be opened.
    if (!PathWithinLimit(path.size())) {
      if (slot.index == index) Reset(slot);
      return OpenResult::NotOpened;
    }
    // Since a prompt, an entry may be anything: it is looked at as a path before it is opened.
    if (stale_ || !planned.knownRegular) return file.Open(path, false, length);

    ReleaseHandedOver();
    if (++opened_ == kRingAfterFiles) StartRing();
    Fill(index, path);
    WaitFor(index);
    if (slot.index != index) return file.Open(path, true, length);  // its place was taken
    // Opened by its name in the directory, possibly ahead of its turn: taken only while the
    // directory's path names that directory, and while the name names that file.
    if (slot.relative > checkedOpens_ && slot.state != SlotState::Retry &&
        !DirectoryStillThere(true)) {
      // Another directory (or none) has the path now: what was opened through the old one is
      // not what the paths name. The rest of the plan is opened by its paths.
      CloseAhead();
      CloseDirectory();
      pathsOnly_ = true;
      return file.Open(path, true, length);
    }
    if (slot.ahead && slot.relative && slot.state == SlotState::Done &&
        !TakeAsItIsNow(slot, planned)) {
      Reset(slot);
      return file.Open(path, true, length);
    }
    if (slot.state == SlotState::Done) {
      // The file's first read is ours (ReadFirstPart): it takes what was read ahead, or reads.
      file.Adopt(slot.fd, slot.got);
      length = slot.size;
      adopted_ = true;
      slot.fd = -1;
      if (slot.got > 0) {
        slot.state = SlotState::HandedOver;
        handedOver_ = index;
      } else {
        Reset(slot);
      }
      return OpenResult::Opened;
    }
    const bool passed = slot.state == SlotState::Passed;
    const int error = slot.error;
    Reset(slot);
    if (passed) return OpenResult::NotOpened;
    if (error == EMFILE || error == ENFILE) {
      // Descriptors ran short: give back those held ahead and read ahead less.
      CloseAhead();
      window_ = window_ > 1 ? window_ / 2 : 1;
      CloseDirectory();
      useDirectory_ = false;
    }
    // The open in turn, by the path, with the same checks.
    return file.Open(path, true, length);
  }

  void BeforePrompt() {
    CloseAhead();
    CloseDirectory();
    stale_ = true;
  }

  void End() {
    CloseAhead();
    CloseDirectory();
    files_.clear();
    next_ = 0;
  }

  bool GiveBackMemory() {
    bool gave = ringOpen_;
    ringAllowed_ = false;
    memoryShort_ = true;
    GiveUpRing();  // reaps every read in flight: no buffer is written into after this
    CloseRing();
    for (Slot& slot : slots_) {
      if (slot.state == SlotState::HandedOver) continue;  // lent to the file being searched
      if (slot.state != SlotState::Idle) {
        Reset(slot);
        gave = true;
      }
      if (slot.buffer) {
        slot.buffer.reset();
        gave = true;
      }
    }
    return gave;
  }

 private:
  void SetUp() {
    if (setUp_) return;
    setUp_ = true;
    const int free = FreeDescriptors(kFilesReadAhead + kReservedDescriptors);
    useDirectory_ = free >= 3;
    windowMax_ = std::max(0, free - kReservedDescriptors);
    ringAllowed_ = way_ != ReadWay::Plain && windowMax_ >= 2;
    if (way_ == ReadWay::Ring) StartRing();
  }

  void StartRing() {
    if (ringOpen_ || !ringAllowed_) return;
    ringAllowed_ = false;  // one try
    if (io_uring_queue_init(kRingEntries, &ring_, 0) != 0) return;
    ringOpen_ = ringUsable_ = true;
    window_ = static_cast<std::size_t>(windowMax_);
  }

  // The ring is not used again: what was prepared and not handed over dies with it, and
  // what the kernel took is reaped first, so that nothing is written into a buffer or added
  // to the descriptors after this returns. The plain calls take over for the rest of the run.
  void GiveUpRing() {
    if (!ringUsable_) return;
    ringUsable_ = false;
    window_ = 1;
    for (const std::size_t i : unsubmitted_) {
      Slot& slot = SlotFor(i);
      slot.queued = false;
      if (slot.fd >= 0) close(slot.fd);
      slot.fd = -1;
      slot.state = SlotState::Retry;
    }
    unsubmitted_.clear();
    Drain();
    CloseRing();
  }

  void CloseRing() {
    if (!ringOpen_) return;
    Drain();
    io_uring_queue_exit(&ring_);
    ringOpen_ = ringUsable_ = false;
  }

  // Hands what was prepared to the kernel. A submission that fails, or takes only part of
  // what was prepared, gives the ring up: the rest is done with plain calls.
  void Submit() {
    if (!ringUsable_ || unsubmitted_.empty()) return;
    const int taken = io_uring_submit(&ring_);
    const std::size_t n = taken > 0 ? std::min<std::size_t>(taken, unsubmitted_.size()) : 0;
    for (std::size_t k = 0; k < n; ++k) SlotFor(unsubmitted_[k]).queued = false;
    unsubmitted_.erase(unsubmitted_.begin(), unsubmitted_.begin() + static_cast<long>(n));
    submitted_ += static_cast<unsigned>(n);
    if (!unsubmitted_.empty()) GiveUpRing();
  }

  // Handles the completions that are there; returns how many.
  unsigned ReapReady() {
    unsigned reaped = 0;
    io_uring_cqe* cqe = nullptr;
    while (submitted_ > 0 && io_uring_peek_cqe(&ring_, &cqe) == 0 && cqe) {
      const auto i = static_cast<std::size_t>(io_uring_cqe_get_data64(cqe));
      const int result = cqe->res;
      io_uring_cqe_seen(&ring_, cqe);
      --submitted_;
      ++reaped;
      Completed(i, result);
      cqe = nullptr;
    }
    return reaped;
  }

  // Waits until a completion may be there. A wait the ring refuses gives the ring up (which
  // reaps everything in flight). Once the ring is given up the kernel still posts the
  // completions of what it took, without a call into the ring; they are looked for again
  // after a short pause.
  void WaitForCompletion() {
    if (ringUsable_) {
      io_uring_cqe* cqe = nullptr;
      const int got = io_uring_wait_cqe(&ring_, &cqe);
      if (got == 0) {
        interrupted_ = 0;
        return;
      }
      if (got == -EINTR && ++interrupted_ < kWaitRetries) return;
      GiveUpRing();
      return;
    }
    const struct timespec pause = {0, 1000000};
    nanosleep(&pause, nullptr);
  }

  // Reaps every operation the kernel took; what it completes is discarded.
  void Drain() {
    if (!ringOpen_) return;
    discard_ = true;
    while (submitted_ > 0) {
      if (ReapReady() == 0) WaitForCompletion();
    }
    discard_ = false;
  }

  // Waits until planned file `k` is no longer under way.
  void WaitFor(std::size_t k) {
    Slot& slot = SlotFor(k);
    if (slot.index != k) return;
    while (slot.state == SlotState::Opening || slot.state == SlotState::Reading) {
      if (slot.queued) {
        Submit();
        continue;
      }
      if (!ringOpen_ || submitted_ == 0) {
        slot.state = SlotState::Retry;  // nothing in flight could finish it
        break;
      }
      if (ReapReady() > 0) {
        Submit();  // the reads of the files whose opens came in
        continue;
      }
      WaitForCompletion();
    }
  }

  // Closes what was opened ahead and forgets what was read, after every operation in flight
  // has been reaped.
  void CloseAhead() {
    ReleaseHandedOver();
    if (ringUsable_ && !unsubmitted_.empty()) Submit();
    Drain();
    for (Slot& slot : slots_) Reset(slot);
  }

  void CloseDirectory() {
    if (dirFd_ >= 0) close(dirFd_);
    dirFd_ = -1;
    dirKnown_ = false;
    dirChecked_ = false;
  }

  // The descriptor opens are relative to, or AT_FDCWD when files are opened by their paths.
  // Only the ring opens files relative to the directory, many at a time and ahead of their
  // turn, and the directory's path is checked once for all the opens completed before it
  // (DirectoryStillThere). A plain call opens one file, in its turn, by its path: that costs
  // about what a relative open does, and needs no check.
  int DirectoryFd() {
    if (!ringUsable_ || !useDirectory_ || pathsOnly_) return AT_FDCWD;
    if (dirFd_ < 0) dirFd_ = open(directory_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ >= 0 && !dirKnown_) {
      struct stat st;
      if (fstat(dirFd_, &st) != 0) {
        CloseDirectory();
        return AT_FDCWD;
      }
      dirDevice_ = st.st_dev;
      dirInode_ = st.st_ino;
      dirKnown_ = true;
    }
    return dirFd_ >= 0 ? dirFd_ : AT_FDCWD;
  }

  // Whether the directory's path still names the directory the files are opened relative to.
  // When it does, every open relative to it that has completed was made while the path named
  // it (unless the directory was renamed away and back between), and none is checked again.
  // With `sparing`, a check made in the current clock tick stands for this one: a rename in the
  // tick of the last look goes unseen, as a change to a file in the tick it was measured in
  // does (see TakeAsItIsNow), and a walk through the page cache looks at most directories once.
  bool DirectoryStillThere(bool sparing) {
    const std::uint64_t upTo = relativeOpens_;
    struct timespec tick;
    const bool ticked = clock_gettime(CLOCK_REALTIME_COARSE, &tick) == 0;
    if (sparing && ticked && dirChecked_ && SameTime(tick, dirCheckedAt_)) {
      checkedOpens_ = upTo;
      return true;
    }
    struct stat st;
    if (!dirKnown_ || stat(directory_.c_str(), &st) != 0 || st.st_dev != dirDevice_ ||
        st.st_ino != dirInode_)
      return false;
    checkedOpens_ = upTo;
    dirChecked_ = ticked;
    dirCheckedAt_ = tick;
    return true;
  }

  Slot& SlotFor(std::size_t i) { return slots_[i % slots_.size()]; }

 public:
  // The first read of the file handed over last: what was read ahead, copied into the
  // search's buffer; else a read of the first part straight into it, which now and then asks
  // whether the page cache holds it.
  std::int64_t ReadFirstPart(InputFile& file, char* into, std::size_t want) {
    if (!std::exchange(adopted_, false)) return file.Read(into, want);
    if (Slot* const held = HandedOver()) {
      const std::size_t n = std::min(want, held->got);
      // The file reads on after all it lent (InputFile::Adopt); the window asks for a whole
      // part, which is at least what was read ahead.
      assert(n == held->got);
      std::memcpy(into, held->buffer.get(), n);
      ReleaseHandedOver();
      return static_cast<std::int64_t>(n);
    }
    if (ringAllowed_ && probeCountdown_-- == 0) {
      probeCountdown_ = kProbeEvery - 1;
      const std::int64_t got = file.ReadIfCached(into, want);
      if (got >= 0) return got;
      if (got == InputFile::kWouldWait) StartRing();  // from the disk: read ahead
    }
    return file.Read(into, want);
  }

  // The bytes stay in the slot until ReleaseHandedOver, which only the next Open and
  // CloseAhead call; no read is started into the slot before then.
  std::string_view LendFirstPart() {
    if (!adopted_) return {};
    Slot* const held = HandedOver();
    if (!held) return {};
    adopted_ = false;
    return {held->buffer.get(), held->got};
  }

 private:
  // The slot holding the first part of the file last handed over; null when none does.
  Slot* HandedOver() {
    if (handedOver_ == kNone) return nullptr;
    Slot& slot = SlotFor(handedOver_);
    return slot.index == handedOver_ && slot.state == SlotState::HandedOver ? &slot : nullptr;
  }

  // The slot of the file last handed over is free again; its bytes, if the file never read
  // them, are read from the file instead.
  void ReleaseHandedOver() {
    if (handedOver_ == kNone) return;
    Slot& slot = SlotFor(handedOver_);
    if (slot.index == handedOver_ && slot.state == SlotState::HandedOver) {
      Reset(slot);
      if (memoryShort_) slot.buffer.reset();
    }
    handedOver_ = kNone;
  }

  static void Reset(Slot& slot) {
    if (slot.fd >= 0) close(slot.fd);
    slot.fd = -1;
    slot.state = SlotState::Idle;
    slot.error = 0;
    slot.got = 0;
  }

  // A file the ring opened by its name in the directory ahead of its turn is read as it is
  // when its turn comes (one opened in its turn was measured then): false when the name no
  // longer names that file (renamed or replaced, or a link put there) or none. Should the file
  // have changed since it was opened (its size, its change or its modification time), what
  // was read ahead is dropped, to be read again, and its length is taken anew. A change within
  // the file system's timestamp granularity that keeps the size goes unseen; so does any change
  // while the clock tick the file was measured in lasts (the coarse clock the file system
  // stamps files by), in which its turn comes without a second look: a walk through the page
  // cache searches many files a tick, and the look would cost each a system call.
  bool TakeAsItIsNow(Slot& slot, const PlannedFile& planned) {
    struct timespec tick;
    if (clock_gettime(CLOCK_REALTIME_COARSE, &tick) == 0 && SameTime(tick, slot.measuredAt))
      return true;
    struct stat now;
    if (dirFd_ < 0 || fstatat(dirFd_, planned.name, &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(now.st_mode) || now.st_dev != slot.device || now.st_ino != slot.inode)
      return false;
    if (static_cast<std::uint64_t>(now.st_size) != slot.size ||
        !SameTime(now.st_ctim, slot.changed) || !SameTime(now.st_mtim, slot.modified)) {
      slot.size = static_cast<std::uint64_t>(now.st_size);
      slot.got = 0;
    }
    return true;
  }

  static bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
  }

  // Starts the opens of the file at `k` (whose path is `path`) and of those after it, up to the
  // window. The window is topped up in batches, once half of it has been taken, so that one
  // system call starts many opens. Without the directory's descriptor, files are opened by
  // their paths, and only the one whose turn it is.
  void Fill(std::size_t k, const std::string& path) {
    const int dirFd = DirectoryFd();
    const std::size_t end = dirFd == AT_FDCWD ? k + 1 : std::min(files_.size(), k + window_);
    std::size_t idle = 0;
    for (std::size_t i = k; i < end; ++i) idle += SlotFor(i).state == SlotState::Idle;
    if (SlotFor(k).state != SlotState::Idle && 2 * idle < window_) return;
    for (std::size_t i = k; i < end; ++i) {
      const PlannedFile& file = files_[i];
      Slot& slot = SlotFor(i);
      if (slot.state != SlotState::Idle) {
        if (slot.index == i) continue;
        break;  // its place in the window is still taken
      }
      if (!file.knownRegular || !PathWithinLimit(directory_.size() + 1 + file.nameSize)) continue;
      if (!StartOpen(i, dirFd == AT_FDCWD ? path.c_str() : file.name, dirFd, i != k)) break;
    }
    Submit();
  }

  bool StartOpen(std::size_t i, const char* name, int dirFd, bool ahead) {
    Slot& slot = SlotFor(i);
    slot.index = i;
    slot.state = SlotState::Opening;
    slot.ahead = ahead;
    slot.relative = dirFd == AT_FDCWD ? 0 : kOpenUnderWay;
    if (!ringUsable_) {
      const int fd = openat(dirFd, name, kEntryReadFlags);
      Completed(i, fd >= 0 ? fd : -errno);
      return true;
    }
    io_uring_sqe* sqe = io_uring_get_sqe(&ring_);
    if (!sqe) {
      slot.state = SlotState::Idle;
      return false;
    }
    io_uring_prep_openat(sqe, dirFd, name, kEntryReadFlags, 0);
    Queue(sqe, i);
    return true;
  }

  void Queue(io_uring_sqe* sqe, std::size_t i) {
    io_uring_sqe_set_data64(sqe, i);
    SlotFor(i).queued = true;
    unsubmitted_.push_back(i);
  }

  void StartRead(std::size_t i) {
    Slot& slot = SlotFor(i);
    // With plain calls there is nothing to gain from reading here: the search reads the first
    // part straight into its own buffer (ReadFirstPart), sparing a buffer and a copy per file.
    if (!ringUsable_) {
      slot.state = SlotState::Done;
      return;
    }
    const std::uint64_t size = slot.size;
    const std::size_t want = size < kAheadBytes ? static_cast<std::size_t>(size) : kAheadBytes;
    if (!slot.buffer) {
      try {
        slot.buffer = std::make_unique_for_overwrite<char[]>(kAheadBytes);
      } catch (const std::bad_alloc&) {
        slot.state = SlotState::Done;  // nothing read ahead: the file is read at its turn
        return;
      }
    }
    io_uring_sqe* sqe = io_uring_get_sqe(&ring_);
    if (!sqe) {
      slot.state = SlotState::Done;
      return;
    }
    slot.state = SlotState::Reading;
    // From the file's start; the search's reads go on after what this gives (ReadFirstPart).
    io_uring_prep_read(sqe, slot.fd, slot.buffer.get(), static_cast<unsigned>(want), 0);
    Queue(sqe, i);
  }

  // The open or read of slot `i` ended with `result` (a descriptor or byte count, or -errno).
  void Completed(std::size_t i, int result) {
    Slot& slot = SlotFor(i);
    // A slot is taken again only once its operation has been reaped, so a completion is always
    // for the file its slot holds.
    if (slot.index != i || slot.state == SlotState::Idle) return;
    if (discard_) {
      if (slot.state == SlotState::Opening && result >= 0) close(result);
      if (slot.state == SlotState::Opening || slot.state == SlotState::Reading) Reset(slot);
      return;
    }
    if (slot.state == SlotState::Opening) {
      if (result < 0) {
        slot.error = -result;
        const bool gone = slot.error == ENOENT || slot.error == EACCES || slot.error == EPERM;
        slot.state = gone ? SlotState::Passed : SlotState::Retry;
        return;
      }
      slot.fd = result;
      if (slot.relative != 0) slot.relative = ++relativeOpens_;
      // Opened without following a link and without blocking; nothing is read from it unless
      // it is a regular file.
      struct stat st;
      if (fstat(slot.fd, &st) != 0) {
        slot.state = SlotState::Retry;
        return;
      }
      if (!S_ISREG(st.st_mode)) {
        slot.state = SlotState::Passed;
        return;
      }
      slot.size = static_cast<std::uint64_t>(st.st_size);
      slot.device = st.st_dev;
      slot.inode = st.st_ino;
      slot.changed = st.st_ctim;
      slot.modified = st.st_mtim;
      if (slot.ahead && clock_gettime(CLOCK_REALTIME_COARSE, &slot.measuredAt) != 0)
        slot.measuredAt = {};
      if (slot.size == 0) {
        slot.state = SlotState::Done;
        return;
      }
      StartRead(i);
      return;
    }
    if (slot.state == SlotState::Reading) {
      if (result < 0) {
        slot.state = SlotState::Retry;
        close(slot.fd);
        slot.fd = -1;
        return;
      }
      slot.got = static_cast<std::size_t>(result);
      slot.state = SlotState::Done;
    }
  }

  const ReadWay way_;
  bool setUp_ = false;
  int windowMax_ = 0;          // how many files may be open ahead, by the free descriptors
  bool useDirectory_ = true;   // whether a descriptor can be spared for the directory
  bool ringAllowed_ = false;   // the ring may still be set up when the disk is met
  bool ringOpen_ = false;      // the ring exists (possibly with operations to reap)
  bool ringUsable_ = false;    // new operations may go through the ring
  io_uring ring_ = {};
  std::size_t window_ = 1;     // how many files may be open ahead at once
  unsigned submitted_ = 0;     // operations the kernel took and has not completed
  std::vector<std::size_t> unsubmitted_;  // slots prepared on the ring, in order
  int interrupted_ = 0;        // waits interrupted in a row
  bool discard_ = false;       // completions are reaped only to be dropped
  std::string directory_;
  std::vector<PlannedFile> files_;
  std::size_t next_ = 0;  // the file NextFile gives next
  std::array<Slot, kFilesReadAhead> slots_;
  static constexpr std::size_t kNone = SIZE_MAX;
  std::size_t handedOver_ = kNone;  // the planned file whose slot holds its first part
  bool adopted_ = false;  // the file opened last was handed over, and has not read yet
  unsigned probeCountdown_ = 0;     // first reads until the next that asks (kProbeEvery)
  std::uint64_t opened_ = 0;        // files opened through the read-ahead (kRingAfterFiles)
  int dirFd_ = -1;
  bool stale_ = false;         // a prompt came since the directory was listed
  bool memoryShort_ = false;   // memory ran short: nothing is read ahead any more
  bool pathsOnly_ = false;     // the directory was renamed since the plan began: paths alone
  bool dirKnown_ = false;      // dirDevice_ and dirInode_ are dirFd_'s
  bool dirChecked_ = false;    // DirectoryStillThere found it there, in tick dirCheckedAt_
  struct timespec dirCheckedAt_ = {};
  dev_t dirDevice_ = 0;
  ino_t dirInode_ = 0;
  std::uint64_t relativeOpens_ = 0;  // opens relative to a directory completed in the run
  std::uint64_t checkedOpens_ = 0;   // how many of them DirectoryStillThere has covered
  // Slot::relative of an open (or a failed one) relative to the directory, until it completes.
  static constexpr std::uint64_t kOpenUnderWay = UINT64_MAX;
};

FileReads::FileReads(ReadWay way) : impl_(std::make_unique<Impl>(way)) {}
FileReads::~FileReads() = default;

void FileReads::Plan(const std::string& directory, std::vector<PlannedFile> files,
                     OpenDirectory opened) {
  impl_->Plan(directory, std::move(files), std::move(opened));
}

const PlannedFile* FileReads::NextFile() { return impl_->NextFile(); }

OpenResult FileReads::Open(const std::string& path, InputFile& file, std::uint64_t& length) {
  return impl_->Open(path, file, length);
}

std::string_view FileReads::LendFirstPart() { return impl_->LendFirstPart(); }

std::int64_t FileReads::ReadFirstPart(InputFile& file, char* into, std::size_t size) {
  return impl_->ReadFirstPart(file, into, size);
}

void FileReads::BeforePrompt() { impl_->BeforePrompt(); }

void FileReads::End() { impl_->End(); }

bool FileReads::GiveBackMemory() { return impl_->GiveBackMemory(); }
