// The plain way of opening for the Linux read-ahead: each open done at once with a system call
// of its own, and nothing read ahead. While the files come from the page cache this costs
// less than the ring; the search then reads the first part straight into its own buffer
// (FileReads::ReadFirstPart), sparing a buffer and a copy per file.
#ifndef QZ_SEARCH_PLAIN_READS_LINUX_H_
#define QZ_SEARCH_PLAIN_READS_LINUX_H_

#include <fcntl.h>

#include <cerrno>
#include <cstddef>

#include "search/checked_open-posix.h"
#include "search/read_ahead_slots-linux.h"

class PlainReads {
 public:
  explicit PlainReads(AheadSlots& slots) : slots_(slots) {}

  bool StartOpen(std::size_t i, int dirFd, const char* name) {
    const int fd = openat(dirFd, name, kEntryReadFlags);
    if (slots_.Ended(i, fd >= 0 ? fd : -errno) == AheadSlots::Next::ReadFirstPart)
      slots_.For(i).state = SlotState::Done;
    return true;
  }

  // Every call is done by the time it returns: nothing waits to be handed over or to end.
  void Submit() {}
  void Settle(std::size_t i) {
    Slot& slot = slots_.For(i);
    if (slot.index == i && (slot.state == SlotState::Opening || slot.state == SlotState::Reading))
      slot.state = SlotState::Retry;
  }
  void Drain() {}

 private:
  AheadSlots& slots_;
};

static_assert(ReadAheadWay<PlainReads>);

#endif  // QZ_SEARCH_PLAIN_READS_LINUX_H_
