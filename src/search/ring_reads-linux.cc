#include "search/ring_reads-linux.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <new>

#include "search/checked_open-posix.h"
#include "search/file_window.h"

namespace {

// How much of each file is read ahead: the part the file window reads at a time.
constexpr std::size_t kAheadBytes = FileWindow::kPartSize;
// A wait for the ring interrupted this many times in a row (by signals, or by a policy that
// answers every call so) gives the ring up.
constexpr int kWaitRetries = 4;
// Closes prepared on the ring are handed to the kernel at the latest once this many wait.
constexpr std::size_t kCloseBatch = 8;

}  // namespace

bool RingReads::SetUp() {
  if (open_) return true;
  if (io_uring_queue_init(kEntries, &ring_, 0) != 0) return false;
  open_ = usable_ = true;
  return true;
}

void RingReads::GiveUp() {
  if (!usable_) return;
  usable_ = false;
  for (const std::uint64_t data : unsubmitted_) {
    if (data & kClose) {
      close(static_cast<int>(data & ~kClose));
      --closesInFlight_;
      continue;
    }
    Slot& slot = slots_.For(static_cast<std::size_t>(data));
    slot.queued = false;
    if (slot.fd >= 0) close(slot.fd);
    slot.fd = -1;
    slot.state = SlotState::Retry;
  }
  unsubmitted_.clear();
  Drain();
  Close();
}

void RingReads::Close() {
  if (!open_) return;
  Submit();  // closes prepared on the ring are not lost with it
  if (!open_) return;  // the submission gave the ring up, which closed it
  Drain();
  io_uring_queue_exit(&ring_);
  open_ = usable_ = false;
}

bool RingReads::StartOpen(std::size_t i, int dirFd, const char* name) {
  io_uring_sqe* sqe = io_uring_get_sqe(&ring_);
  if (!sqe) {
    slots_.For(i).state = SlotState::Idle;
    return false;
  }
  io_uring_prep_openat(sqe, dirFd, name, kEntryReadFlags, 0);
  Queue(sqe, i);
  return true;
}

bool RingReads::StartClose(int fd) {
  if (!usable_ || closesInFlight_ >= kClosesInFlight) return false;
  io_uring_sqe* sqe = io_uring_get_sqe(&ring_);
  if (!sqe) return false;
  io_uring_prep_close(sqe, fd);
  ++closesInFlight_;
  Queue(sqe, kClose | static_cast<std::uint64_t>(fd));
  // Handed over with the opens of the next files, or a few at a time when those do not come.
  if (unsubmitted_.size() >= kCloseBatch) Submit();
  return true;
}

void RingReads::Queue(io_uring_sqe* sqe, std::uint64_t data) {
  io_uring_sqe_set_data64(sqe, data);
  MarkQueued(data, true);
  unsubmitted_.push_back(data);
}

void RingReads::MarkQueued(std::uint64_t data, bool queued) {
  if (!(data & kClose)) slots_.For(static_cast<std::size_t>(data)).queued = queued;
}

void RingReads::StartRead(std::size_t i) {
  Slot& slot = slots_.For(i);
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
  // From the file's start; the search's reads go on after what this gives.
  io_uring_prep_read(sqe, slot.fd, slot.buffer.get(), static_cast<unsigned>(want), 0);
  Queue(sqe, i);
}

// A submission that fails, or takes only part of what was prepared, gives the ring up: the
// rest is done with plain calls.
void RingReads::Submit() {
  if (!usable_ || unsubmitted_.empty()) return;
  const int taken = io_uring_submit(&ring_);
  const std::size_t n = taken > 0 ? std::min<std::size_t>(taken, unsubmitted_.size()) : 0;
  for (std::size_t k = 0; k < n; ++k) MarkQueued(unsubmitted_[k], false);
  unsubmitted_.erase(unsubmitted_.begin(), unsubmitted_.begin() + static_cast<long>(n));
  submitted_ += static_cast<unsigned>(n);
  if (!unsubmitted_.empty()) GiveUp();
}

void RingReads::Completed(std::uint64_t data, int result) {
  if (data & kClose) {
    --closesInFlight_;  // a close that failed has let the descriptor go all the same
    return;
  }
  const auto i = static_cast<std::size_t>(data);
  if (discard_) {
    slots_.Dropped(i, result);
    return;
  }
  if (slots_.Ended(i, result) == AheadSlots::Next::ReadFirstPart) {
    if (usable_) StartRead(i);
    else slots_.For(i).state = SlotState::Done;  // read at its turn, as the plain calls do
  }
}

// Handles the completions that are there; returns how many.
unsigned RingReads::ReapReady() {
  unsigned reaped = 0;
  io_uring_cqe* cqe = nullptr;
  while (submitted_ > 0 && io_uring_peek_cqe(&ring_, &cqe) == 0 && cqe) {
    const std::uint64_t data = io_uring_cqe_get_data64(cqe);
    const int result = cqe->res;
    io_uring_cqe_seen(&ring_, cqe);
    --submitted_;
    ++reaped;
    Completed(data, result);
    cqe = nullptr;
  }
  return reaped;
}

// Waits until a completion may be there. A wait the ring refuses gives the ring up (which
// reaps everything in flight). Once the ring is given up the kernel still posts the
// completions of what it took, without a call into the ring; they are looked for again after
// a short pause.
void RingReads::WaitForCompletion() {
  if (usable_) {
    io_uring_cqe* cqe = nullptr;
    const int got = io_uring_wait_cqe(&ring_, &cqe);
    if (got == 0) {
      interrupted_ = 0;
      return;
    }
    if (got == -EINTR && ++interrupted_ < kWaitRetries) return;
    GiveUp();
    return;
  }
  const struct timespec pause = {0, 1000000};
  nanosleep(&pause, nullptr);
}

void RingReads::Drain() {
  if (!open_) return;
  discard_ = true;
  while (submitted_ > 0) {
    if (ReapReady() == 0) WaitForCompletion();
  }
  discard_ = false;
}

void RingReads::Settle(std::size_t k) {
  Slot& slot = slots_.For(k);
  if (slot.index != k) return;
  while (slot.state == SlotState::Opening || slot.state == SlotState::Reading) {
    if (slot.queued) {
      Submit();
      continue;
    }
    if (!open_ || submitted_ == 0) {
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
