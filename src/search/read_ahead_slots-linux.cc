#include "search/read_ahead_slots-linux.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>

Slot& AheadSlots::Take(std::size_t i, bool ahead, bool relative) {
  Slot& slot = For(i);
  assert(slot.state == SlotState::Idle && "a slot is taken only when it is free");
  slot.index = i;
  slot.state = SlotState::Opening;
  slot.ahead = ahead;
  slot.relative = relative ? Slot::kOpenUnderWay : 0;
  return slot;
}

AheadSlots::Next AheadSlots::Ended(std::size_t i, int result) {
  Slot& slot = For(i);
  // A slot is taken again only once its operation has been reaped, so a completion is always
  // for the file its slot holds.
  if (slot.index != i || slot.state == SlotState::Idle) return Next::Nothing;
  if (slot.state == SlotState::Opening) {
    if (result < 0) {
      slot.error = -result;
      const bool gone = slot.error == ENOENT || slot.error == EACCES || slot.error == EPERM;
      slot.state = gone ? SlotState::Passed : SlotState::Retry;
      return Next::Nothing;
    }
    slot.fd = result;
    if (slot.relative != 0) slot.relative = ++relativeOpens_;
    // Opened without following a link and without blocking; nothing is read from it unless
    // it is a regular file. What the open itself learnt of the file is enough: a file system
    // across a network is not asked again (a file's type never changes, and its size and
    // times are as the open found them).
    struct statx st;
    constexpr unsigned kWanted = STATX_TYPE | STATX_SIZE | STATX_INO | STATX_CTIME | STATX_MTIME;
    if (statx(slot.fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, kWanted, &st) != 0 ||
        (st.stx_mask & kWanted) != kWanted) {
      slot.state = SlotState::Retry;
      return Next::Nothing;
    }
    if (!S_ISREG(st.stx_mode)) {
      slot.state = SlotState::Passed;
      return Next::Nothing;
    }
    slot.size = st.stx_size;
    slot.device = makedev(st.stx_dev_major, st.stx_dev_minor);
    slot.inode = st.stx_ino;
    slot.changed = {static_cast<time_t>(st.stx_ctime.tv_sec), st.stx_ctime.tv_nsec};
    slot.modified = {static_cast<time_t>(st.stx_mtime.tv_sec), st.stx_mtime.tv_nsec};
    if (slot.ahead && clock_gettime(CLOCK_REALTIME_COARSE, &slot.measuredAt) != 0)
      slot.measuredAt = {};
    if (slot.size == 0) {
      slot.state = SlotState::Done;
      return Next::Nothing;
    }
    return Next::ReadFirstPart;
  }
  if (slot.state == SlotState::Reading) {
    if (result < 0) {
      slot.state = SlotState::Retry;
      close(slot.fd);
      slot.fd = -1;
      return Next::Nothing;
    }
    slot.got = static_cast<std::size_t>(result);
    slot.state = SlotState::Done;
  }
  return Next::Nothing;
}

void AheadSlots::Dropped(std::size_t i, int result) {
  Slot& slot = For(i);
  if (slot.index != i || slot.state == SlotState::Idle) return;
  if (slot.state == SlotState::Opening && result >= 0) close(result);
  if (slot.state == SlotState::Opening || slot.state == SlotState::Reading) Reset(slot);
}

void AheadSlots::Reset(Slot& slot) {
  if (slot.fd >= 0) close(slot.fd);
  slot.fd = -1;
  slot.state = SlotState::Idle;
  slot.error = 0;
  slot.got = 0;
}

void AheadSlots::ResetAll() {
  for (Slot& slot : slots_) {
    assert(!slot.queued && "nothing is in flight");
    Reset(slot);
  }
}
