// The io_uring way of opening and reading ahead for the Linux reads: opens and reads of the
// first parts go to the kernel many at a time, and complete into the slots. The kernel writes
// into the slots' buffers and fills in descriptors for as long as an operation is in flight,
// so no slot is released, reused or closed before its operation is reaped.
#ifndef QZ_SEARCH_RING_READS_LINUX_H_
#define QZ_SEARCH_RING_READS_LINUX_H_

#include <liburing.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "search/read_ahead_slots-linux.h"

class RingReads {
 public:
  // The ring, once set up, has room for this many operations.
  static constexpr unsigned kEntries = 2 * kFilesReadAhead;

  explicit RingReads(AheadSlots& slots) : slots_(slots) {}
  ~RingReads() { Close(); }
  RingReads(const RingReads&) = delete;
  RingReads& operator=(const RingReads&) = delete;

  // Sets the ring up; false when the system will not.
  bool SetUp();
  // Whether the ring exists and new operations may go through it. Once it is given up (a
  // submission or a wait it refused), it is closed and stays so.
  bool usable() const { return usable_; }
  bool open() const { return open_; }

  // ReadAheadWay. An open that completes starts the read of the file's first part.
  bool StartOpen(std::size_t i, int dirFd, const char* name);
  void Submit();
  void Settle(std::size_t i);
  void Drain();

  // Starts closing `fd`, a file the search is done with, without waiting for the file system
  // to answer; false when the ring cannot take it now (the caller closes it). The descriptor
  // stays taken until the close completes: at most kClosesInFlight are under way at once.
  bool StartClose(int fd);
  static constexpr unsigned kClosesInFlight = kFilesReadAhead;
  // Handles the completions that are there, without waiting.
  void Reap() { ReapReady(); }

  // The ring is not used again: what was prepared and not handed over dies with it (its slots
  // are Retry), and what the kernel took is reaped first, so that nothing is written into a
  // buffer or added to the descriptors after this returns. The plain calls take over.
  void GiveUp();
  // Reaps what is in flight and closes the ring.
  void Close();

 private:
  void StartRead(std::size_t i);
  void Queue(io_uring_sqe* sqe, std::uint64_t data);
  // Marks the slot of what `data` names as prepared but not handed over, or not; a close has
  // no slot.
  void MarkQueued(std::uint64_t data, bool queued);
  void Completed(std::uint64_t data, int result);
  unsigned ReapReady();
  void WaitForCompletion();

  AheadSlots& slots_;
  bool open_ = false;           // the ring exists (possibly with operations to reap)
  bool usable_ = false;         // new operations may go through the ring
  io_uring ring_ = {};
  unsigned submitted_ = 0;      // operations the kernel took and has not completed
  // What was prepared on the ring, in order: a slot's index, or a close (kClose | fd).
  std::vector<std::uint64_t> unsubmitted_;
  static constexpr std::uint64_t kClose = std::uint64_t{1} << 63;
  unsigned closesInFlight_ = 0;  // closes prepared or taken, not completed
  int interrupted_ = 0;         // waits interrupted in a row
  bool discard_ = false;        // completions are reaped only to be dropped
};

static_assert(ReadAheadWay<RingReads>);

#endif  // QZ_SEARCH_RING_READS_LINUX_H_
