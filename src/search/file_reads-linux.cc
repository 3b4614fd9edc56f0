// Opening and reading ahead on Linux: the policy. Which files are opened ahead and when (a
// window of the plan, topped up in batches), when the ring is set up (a read found waiting
// for the disk, or a long walk), how many descriptors it may take, and what is checked before
// a file opened ahead is handed to the search (its directory and its name still lead to it,
// it is still as it was). The mechanisms do the opens and reads on the slots
// (read_ahead_slots-linux.h): PlainReads with a system call each, one file at a time, until
// the ring is set up and wherever it cannot be or has failed; RingReads through io_uring.
#include "search/file_reads.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <utility>

#include "search/checked_open-posix.h"
#include "search/plain_reads-linux.h"
#include "search/read_ahead_slots-linux.h"
#include "search/ring_reads-linux.h"

namespace {

// Descriptors kept free for other uses while reading ahead: the directory's, the ring's, the
// file being searched and the keyboard (opened for each key when no standard stream is the
// terminal).
constexpr int kReservedDescriptors = 4;
// While files come from the page cache, one first read in this many asks whether it may be
// done without waiting (a read that asks costs more than one that does not); the first file
// of the run always asks. Once a file is found on the disk, at most this many more are read
// one at a time before the ring takes over.
constexpr unsigned kProbeEvery = 8;
// How many directories may be planned at once (each holding its descriptor), so that the
// window of files read ahead runs on into the directories after the one being searched.
constexpr std::size_t kDirectoriesAhead = 16;
// A walk this many files long sets the ring up even while they come from the page cache: it
// opens and reads many files a system call, and lends what it read where it lies, which over
// a long walk more than pays for setting it up (about a millisecond).
constexpr std::uint64_t kRingAfterFiles = 1024;

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

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// A directory whose files are planned, and what the reads know of it.
struct PlannedDirectory {
  std::string path;
  std::vector<PlannedFile> files;
  std::size_t first = 0;    // the place of files[0] in the whole plan (a slot's index)
  std::size_t next = 0;     // the file NextFile gives next
  // The descriptor its files are opened relative to (by the ring only), or -1.
  int fd = -1;
  bool known = false;       // device and inode are fd's
  dev_t device = 0;
  ino_t inode = 0;
  bool checked = false;     // DirectoryStillThere found it there, in tick checkedAt
  struct timespec checkedAt = {};
  std::uint64_t checkedOpens = 0;  // the relative opens (of the run) its last check covered
  bool pathsOnly = false;   // it was renamed since the plan began: its files by their paths
  bool stale = false;       // a prompt came since it was listed
};

}  // namespace

class FileReads::Impl {
 public:
  explicit Impl(ReadWay way) : way_(way) {}

  ~Impl() {
    CloseAhead();
    CloseDirectories();
    ring_.Close();
  }

  void Plan(const std::string& directory, std::vector<PlannedFile> files, OpenDirectory opened) {
    SetUp();
    PlannedDirectory& dir = dirs_.emplace_back();
    dir.path = directory;
    dir.files = std::move(files);
    dir.first = planEnd_;
    planEnd_ += dir.files.size();
    // The listing's own descriptor spares opening the directory again by its path.
    if (useDirectory_ && !dir.files.empty() && opened.get() >= 0)
      dir.fd = static_cast<int>(opened.Release());
  }

  const PlannedFile* NextFile() {
    if (dirs_.empty()) return nullptr;
    PlannedDirectory& dir = dirs_.front();
    return dir.next < dir.files.size() ? &dir.files[dir.next++] : nullptr;
  }

  bool WantsMore() const {
    if (!planAhead_ || memoryShort_ || !useDirectory_ || !ring_.usable() || dirs_.empty() ||
        dirs_.size() >= kDirectoriesAhead)
      return false;
    const PlannedDirectory& dir = dirs_.front();
    return planEnd_ - (dir.first + dir.next) < window_;
  }

  OpenResult Open(const std::string& path, InputFile& file, std::uint64_t& length) {
    assert(!dirs_.empty() && dirs_.front().next > 0 && "Open follows NextFile");
    PlannedDirectory& dir = dirs_.front();
    const std::size_t index = dir.first + dir.next - 1;
    assert(index + 1 > openedUpTo_ && "each planned file is opened at most once");
    openedUpTo_ = index + 1;
    const PlannedFile& planned = dir.files[dir.next - 1];
    adopted_ = false;
    Slot& slot = slots_.For(index);
    // A path is the file: one longer than the system opens is passed over, whichever way the
    // file would be opened.
    if (!PathWithinLimit(path.size())) {
      if (slot.index == index) AheadSlots::Reset(slot);
      return OpenResult::NotOpened;
    }
    // Since a prompt, an entry may be anything: it is looked at as a path before it is opened.
    if (dir.stale || !planned.knownRegular) return file.Open(path, false, length);

    ReleaseHandedOver();
    if (++opened_ == kRingAfterFiles) StartRing();
    Fill(index, path);
    Way([&](auto& way) { way.Settle(index); });
    if (slot.index != index) return file.Open(path, true, length);  // its place was taken
    // Opened by its name in the directory, possibly ahead of its turn: taken only while the
    // directory's path names that directory, and while the name names that file.
    if (slot.relative > dir.checkedOpens && slot.state != SlotState::Retry &&
        !DirectoryStillThere(dir, true)) {
      // Another directory (or none) has the path now: what was opened through the old one is
      // not what the paths name. The rest of the directory is opened by its paths.
      CloseAhead();
      CloseDirectory(dir);
      dir.pathsOnly = true;
      return file.Open(path, true, length);
    }
    if (slot.ahead && slot.relative && slot.state == SlotState::Done &&
        !TakeAsItIsNow(slot, planned, dir)) {
      AheadSlots::Reset(slot);
      return file.Open(path, true, length);
    }
    if (slot.state == SlotState::Done) {
      // The file's first read is ours (ReadFirstPart, LendFirstPart): it takes what was read
      // ahead, or reads.
      file.Adopt(slot.fd, slot.got);
      length = slot.size;
      adopted_ = true;
      slot.fd = -1;
      if (slot.got > 0) {
        slot.state = SlotState::HandedOver;
        handedOver_ = index;
      } else {
        AheadSlots::Reset(slot);
      }
      return OpenResult::Opened;
    }
    const bool passed = slot.state == SlotState::Passed;
    const int error = slot.error;
    AheadSlots::Reset(slot);
    if (passed) return OpenResult::NotOpened;
    if (error == EMFILE || error == ENFILE) {
      // Descriptors ran short: give back those held ahead and read ahead less.
      CloseAhead();
      window_ = window_ > 1 ? window_ / 2 : 1;
      CloseDirectories();
      useDirectory_ = false;
    }
    // The open in turn, by the path, with the same checks.
    return file.Open(path, true, length);
  }

  // The first read of the file handed over last: what was read ahead, copied into the
  // search's buffer; else a read of the first part straight into it, which now and then asks
  // whether the page cache holds it.
  std::int64_t ReadFirstPart(InputFile& file, char* into, std::size_t want) {
    if (!std::exchange(adopted_, false)) return file.Read(into, want);
    if (Slot* const held = HandedOver()) {
      // The file reads on after all it lent (InputFile::Adopt), so all of it is taken.
      assert(want >= held->got && "the first read asks for at least what was read ahead");
      const std::size_t n = std::min(want, held->got);
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

  void Close(InputFile& file) {
    const int fd = static_cast<int>(file.Release());
    if (fd < 0) return;
    if (closeOnRing_ && ring_.usable()) {
      ring_.Reap();  // lets the closes that have ended make room
      if (ring_.StartClose(fd)) return;
    }
    close(fd);
  }

  void BeforePrompt() {
    CloseAhead();
    if (dirs_.empty()) return;
    CloseDirectories();
    dirs_.front().stale = true;
  }

  void ForgetAhead() {
    if (dirs_.size() <= 1) return;
    CloseAhead();  // their opens in flight name files by names that are about to go
    while (dirs_.size() > 1) {
      CloseDirectory(dirs_.back());
      dirs_.pop_back();
    }
    const PlannedDirectory& dir = dirs_.front();
    planEnd_ = dir.first + dir.files.size();
  }

  void End() {
    if (dirs_.empty()) return;
    PlannedDirectory& dir = dirs_.front();
    // Files left unsearched (the walk stopped, or memory ran out) may have opens or reads in
    // flight: everything read ahead goes, to be read again in turn.
    if (dir.next < dir.files.size()) CloseAhead();
    else ReleaseHandedOver();
    CloseDirectory(dir);
    dirs_.pop_front();
  }

  bool GiveBackMemory() {
    bool gave = ring_.open();
    ringAllowed_ = false;
    memoryShort_ = true;
    ring_.GiveUp();  // reaps every read in flight: no buffer is written into after this
    ring_.Close();
    for (Slot& slot : slots_) {
      if (slot.state == SlotState::HandedOver) continue;  // lent to the file being searched
      if (slot.state != SlotState::Idle) {
        AheadSlots::Reset(slot);
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
  // Runs `step` on the way of reading in use: the ring while it is usable, else plain calls.
  template <typename Step>
  void Way(Step&& step) {
    if (ring_.usable()) step(ring_);
    else step(plain_);
  }

  // How many files may be open ahead at once: one without the ring.
  std::size_t Window() const { return ring_.usable() ? window_ : 1; }

  void SetUp() {
    if (setUp_) return;
    setUp_ = true;
    constexpr int kDirectories = static_cast<int>(kDirectoriesAhead);
    constexpr int kCloses = static_cast<int>(RingReads::kClosesInFlight);
    const int free =
        FreeDescriptors(kFilesReadAhead + kReservedDescriptors + kDirectories + kCloses);
    useDirectory_ = free >= 3;
    const int spare = std::max(0, free - kReservedDescriptors);
    windowMax_ = std::min(spare, kFilesReadAhead);
    // Directories planned ahead, and closes through the ring, hold their descriptors: each
    // only where it cannot take any the window or the search would want.
    planAhead_ = spare - windowMax_ >= kDirectories;
    closeOnRing_ = spare - windowMax_ - (planAhead_ ? kDirectories : 0) >= kCloses;
    ringAllowed_ = way_ != ReadWay::Plain && windowMax_ >= 2;
    if (way_ == ReadWay::Ring) StartRing();
  }

  void StartRing() {
    if (ring_.open() || !ringAllowed_) return;
    ringAllowed_ = false;  // one try
    if (ring_.SetUp()) window_ = static_cast<std::size_t>(windowMax_);
  }

  // Closes what was opened ahead and forgets what was read, after every operation in flight
  // has been reaped.
  void CloseAhead() {
    ReleaseHandedOver();
    Way([](auto& way) {
      way.Submit();
      way.Drain();
    });
    slots_.ResetAll();
  }

  static void CloseDirectory(PlannedDirectory& dir) {
    if (dir.fd >= 0) close(dir.fd);
    dir.fd = -1;
    dir.known = false;
    dir.checked = false;
  }

  void CloseDirectories() {
    for (PlannedDirectory& dir : dirs_) CloseDirectory(dir);
  }

  // The descriptor opens are relative to, or AT_FDCWD when files are opened by their paths.
  // Only the ring opens files relative to the directory, many at a time and ahead of their
  // turn, and the directory's path is checked once for all the opens completed before it
  // (DirectoryStillThere). A plain call opens one file, in its turn, by its path: that costs
  // about what a relative open does, and needs no check.
  int DirectoryFd(PlannedDirectory& dir) {
    if (!ring_.usable() || !useDirectory_ || dir.pathsOnly) return AT_FDCWD;
    if (dir.fd < 0) dir.fd = open(dir.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir.fd >= 0 && !dir.known) {
      struct stat st;
      if (fstat(dir.fd, &st) != 0) {
        CloseDirectory(dir);
        return AT_FDCWD;
      }
      dir.device = st.st_dev;
      dir.inode = st.st_ino;
      dir.known = true;
    }
    return dir.fd >= 0 ? dir.fd : AT_FDCWD;
  }

  // Whether the directory's path still names the directory the files are opened relative to.
  // When it does, every open relative to it that has completed was made while the path named
  // it (unless the directory was renamed away and back between), and none is checked again.
  // With `sparing`, a check made in the current clock tick stands for this one: a rename in the
  // tick of the last look goes unseen, as a change to a file in the tick it was measured in
  // does (see TakeAsItIsNow), and a walk through the page cache looks at most directories once.
  bool DirectoryStillThere(PlannedDirectory& dir, bool sparing) {
    const std::uint64_t upTo = slots_.relativeOpens();
    struct timespec tick;
    const bool ticked = clock_gettime(CLOCK_REALTIME_COARSE, &tick) == 0;
    if (sparing && ticked && dir.checked && SameTime(tick, dir.checkedAt)) {
      dir.checkedOpens = upTo;
      return true;
    }
    struct stat st;
    if (!dir.known || stat(dir.path.c_str(), &st) != 0 || st.st_dev != dir.device ||
        st.st_ino != dir.inode)
      return false;
    dir.checkedOpens = upTo;
    dir.checked = ticked;
    dir.checkedAt = tick;
    return true;
  }

  // The slot holding the first part of the file last handed over; null when none does.
  Slot* HandedOver() {
    if (handedOver_ == kNone) return nullptr;
    Slot& slot = slots_.For(handedOver_);
    return slot.index == handedOver_ && slot.state == SlotState::HandedOver ? &slot : nullptr;
  }

  // The slot of the file last handed over is free again; its bytes, if the file never read
  // them, are read from the file instead.
  void ReleaseHandedOver() {
    if (handedOver_ == kNone) return;
    if (Slot* const slot = HandedOver()) {
      AheadSlots::Reset(*slot);
      if (memoryShort_) slot->buffer.reset();
    }
    handedOver_ = kNone;
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
  bool TakeAsItIsNow(Slot& slot, const PlannedFile& planned, const PlannedDirectory& dir) {
    struct timespec tick;
    if (clock_gettime(CLOCK_REALTIME_COARSE, &tick) == 0 && SameTime(tick, slot.measuredAt))
      return true;
    struct stat now;
    if (dir.fd < 0 || fstatat(dir.fd, planned.name, &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(now.st_mode) || now.st_dev != slot.device || now.st_ino != slot.inode)
      return false;
    if (static_cast<std::uint64_t>(now.st_size) != slot.size ||
        !SameTime(now.st_ctim, slot.changed) || !SameTime(now.st_mtim, slot.modified)) {
      slot.size = static_cast<std::uint64_t>(now.st_size);
      slot.got = 0;
    }
    return true;
  }

  // Starts the opens of the file at `k` (whose path is `path`) and of those after it in the
  // plan, up to the window, on into the directories planned after this one. The window is
  // topped up in batches, once half of it has been taken, so that one system call starts many
  // opens. Without a directory's descriptor, files are opened by their paths, and only the one
  // whose turn it is: the window stops at such a directory.
  void Fill(std::size_t k, const std::string& path) {
    const int firstFd = DirectoryFd(dirs_.front());
    const std::size_t window = Window();
    const std::size_t end = firstFd == AT_FDCWD ? k + 1 : std::min(planEnd_, k + window);
    std::size_t idle = 0;
    for (std::size_t i = k; i < end; ++i) idle += slots_.For(i).state == SlotState::Idle;
    if (slots_.For(k).state != SlotState::Idle && 2 * idle < window) return;
    Way([&](auto& way) {
      auto dir = dirs_.begin();
      int dirFd = firstFd;
      for (std::size_t i = k; i < end; ++i) {
        while (i >= dir->first + dir->files.size()) {
          ++dir;
          dirFd = DirectoryFd(*dir);
        }
        if (dirFd == AT_FDCWD && i != k) break;
        const PlannedFile& file = dir->files[i - dir->first];
        const Slot& slot = slots_.For(i);
        if (slot.state != SlotState::Idle) {
          if (slot.index == i) continue;
          break;  // its place in the window is still taken
        }
        if (!file.knownRegular || !PathWithinLimit(dir->path.size() + 1 + file.nameSize))
          continue;
        const bool relative = dirFd != AT_FDCWD;
        slots_.Take(i, i != k, relative);
        if (!way.StartOpen(i, dirFd, relative ? file.name : path.c_str()))
          break;
      }
      way.Submit();
    });
  }

  const ReadWay way_;
  bool setUp_ = false;
  int windowMax_ = 0;          // how many files may be open ahead, by the free descriptors
  bool useDirectory_ = true;   // whether a descriptor can be spared for the directory
  bool ringAllowed_ = false;   // the ring may still be set up when the disk is met
  bool closeOnRing_ = false;   // descriptors to spare for closes under way (Close)
  bool planAhead_ = false;     // descriptors to spare for directories planned ahead
  std::size_t window_ = 1;     // how many files may be open ahead at once, with the ring
  AheadSlots slots_;
  PlainReads plain_{slots_};
  RingReads ring_{slots_};
  // The directories planned, in the walk's order: the first is being searched.
  std::deque<PlannedDirectory> dirs_;
  std::size_t planEnd_ = 0;    // the place in the whole plan after its last file
  std::size_t openedUpTo_ = 0;  // the place after the last file Open was asked for
  static constexpr std::size_t kNone = SIZE_MAX;
  std::size_t handedOver_ = kNone;  // the planned file whose slot holds its first part
  bool adopted_ = false;  // the file opened last was handed over, and has not read yet
  unsigned probeCountdown_ = 0;     // first reads until the next that asks (kProbeEvery)
  std::uint64_t opened_ = 0;        // files opened through the read-ahead (kRingAfterFiles)
  bool memoryShort_ = false;   // memory ran short: nothing is read ahead any more
};

FileReads::FileReads(ReadWay way) : impl_(std::make_unique<Impl>(way)) {}
FileReads::~FileReads() = default;

void FileReads::Plan(const std::string& directory, std::vector<PlannedFile> files,
                     OpenDirectory opened) {
  impl_->Plan(directory, std::move(files), std::move(opened));
}

const PlannedFile* FileReads::NextFile() { return impl_->NextFile(); }

bool FileReads::WantsMore() const { return impl_->WantsMore(); }

OpenResult FileReads::Open(const std::string& path, InputFile& file, std::uint64_t& length) {
  return impl_->Open(path, file, length);
}

std::string_view FileReads::LendFirstPart() { return impl_->LendFirstPart(); }

std::int64_t FileReads::ReadFirstPart(InputFile& file, char* into, std::size_t size) {
  return impl_->ReadFirstPart(file, into, size);
}

void FileReads::Close(InputFile& file) { impl_->Close(file); }

void FileReads::BeforePrompt() { impl_->BeforePrompt(); }

void FileReads::ForgetAhead() { impl_->ForgetAhead(); }

void FileReads::End() { impl_->End(); }

bool FileReads::GiveBackMemory() { return impl_->GiveBackMemory(); }
