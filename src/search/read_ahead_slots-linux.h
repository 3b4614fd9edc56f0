// The slots of the Linux read-ahead: what is under way for each planned file the reads open
// ahead of the search, and the steps every way of opening and reading shares. Only the Linux
// reads (file_reads-linux.cc, plain_reads-linux.h, ring_reads-linux.cc) use this.
#ifndef QZ_SEARCH_READ_AHEAD_SLOTS_LINUX_H_
#define QZ_SEARCH_READ_AHEAD_SLOTS_LINUX_H_

#include <sys/types.h>

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>

#include "search/file_reads.h"

// The life of a slot. The policy (FileReads::Impl) takes an Idle slot for a planned file and
// has a way of reading (PlainReads or RingReads) start its open; the way of reading moves it
// on as its operations end (AheadSlots::Ended); at the file's turn the policy hands a Done
// slot's file to the search, or opens the file by its path when the slot ended Retry, passes
// the file over when it ended Passed, and makes the slot Idle again.
//
//   Idle --Take, StartOpen--> Opening --open failed: gone (ENOENT, EACCES, EPERM)---> Passed
//    ^                           |    \-opened, not a regular file-----------------> Passed
//    |                           |     \-open failed otherwise, or not measured-----> Retry
//    |                           | opened and measured
//    |              +------------+------------------+
//    |              | empty, or plain calls          | the ring: read of the first part
//    |              v                                v
//    |            Done <------first part read---- Reading --read failed-----------> Retry
//    |              | handed over with bytes read ahead
//    |              v
//    |          HandedOver (the bytes wait for the file's first read, or the next Open)
//    |              |
//    +--------------+-- Reset: at the file's turn (Done without bytes, Passed, Retry), when its
//                       bytes are read or the next Open comes (HandedOver), and for every slot
//                       at a prompt, at the plan's end or when memory runs short, once what
//                       is in flight has been reaped. Retry also comes of a ring given up.
enum class SlotState {
  Idle,        // nothing started
  Opening,     // an open is under way
  Reading,     // open; the first part is being read
  Done,        // open, first part read (or nothing to read ahead): ready to hand over
  HandedOver,  // the file is the search's; its first part waits here for its first read
  Passed,      // not a regular file, or not there: passed over
  Retry,       // not done ahead (descriptors or memory short, or the ring given up): open in turn
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
  bool ahead = false;     // opened before its turn (see the policy's TakeAsItIsNow)
  struct timespec measuredAt = {};  // the clock tick it was measured in, when ahead
  // Opened (or looked for) relative to the directory's descriptor, by its name: the place of
  // that open in the order such opens completed in, from 1 (see the policy's
  // DirectoryStillThere); kOpenUnderWay until it completes; 0 when opened by its path.
  std::uint64_t relative = 0;
  static constexpr std::uint64_t kOpenUnderWay = UINT64_MAX;
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

class AheadSlots {
 public:
  // The slot for planned file `i`, which holds that file only while its index says so.
  Slot& For(std::size_t i) { return slots_[i % slots_.size()]; }

  // Takes the slot of planned file `i`, which must be Idle, for an open about to start: by its
  // name relative to the directory's descriptor (`relative`) or by its path, before its turn
  // (`ahead`) or in it.
  Slot& Take(std::size_t i, bool ahead, bool relative);

  enum class Next { Nothing, ReadFirstPart };
  // An operation of slot `i` ended with `result` (a descriptor or a byte count, or -errno).
  // An open is measured (fstat: what was opened without following a link and without
  // blocking is kept only when it is a regular file); ReadFirstPart says the slot stays
  // Opening until the way of reading starts the read of its first part or marks it Done.
  Next Ended(std::size_t i, int result);

  // An operation of slot `i` ended with `result` while what was under way is being dropped: a
  // descriptor it opened is closed, and a slot under way becomes Idle.
  void Dropped(std::size_t i, int result);

  // Closes the slot's descriptor and makes it Idle; its buffer stays.
  static void Reset(Slot& slot);
  // Reset for every slot. Nothing may be in flight.
  void ResetAll();

  // How many opens relative to a directory have completed in the run (see Slot::relative).
  std::uint64_t relativeOpens() const { return relativeOpens_; }

  auto begin() { return slots_.begin(); }
  auto end() { return slots_.end(); }

 private:
  std::array<Slot, kFilesReadAhead> slots_;
  std::uint64_t relativeOpens_ = 0;
};

// What a way of opening and reading ahead offers the policy: the same few steps, with the plain
// calls (PlainReads: done at once, one file at a time, nothing read ahead) or through io_uring
// (RingReads: many files a system call, their first parts read ahead into the slots). The
// policy calls whichever is in use without a virtual call: under the sanitizers a virtual
// call's object is checked through a pipe, which fails where a test leaves no descriptor free.
template <typename Way>
concept ReadAheadWay = requires(Way way, std::size_t i, int dirFd, const char* name) {
  // Starts the open of planned file `i`, whose slot was just taken, by `name` relative to
  // `dirFd` (a path with AT_FDCWD). False, with the slot Idle again, when it cannot take the
  // open now.
  { way.StartOpen(i, dirFd, name) } -> std::same_as<bool>;
  // Hands what was started to the system.
  way.Submit();
  // Returns once the slot of planned file `i`, if it still holds that file, is no longer under
  // way (Opening, Reading): Retry when nothing in flight could finish it.
  way.Settle(i);
  // Ends everything in flight and drops what it gives: nothing is written into a slot's
  // buffer or added to the descriptors after this returns.
  way.Drain();
};

#endif  // QZ_SEARCH_READ_AHEAD_SLOTS_LINUX_H_
