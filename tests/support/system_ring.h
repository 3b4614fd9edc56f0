// Whether the system the tests run on sets up io_uring at all, asked of the library directly:
// an emulator (qemu-user) or a kernel built without io_uring refuses every ring. The tests of
// the ring skip there; the ring's own fallbacks are tested apart.
#ifndef QZ_TESTS_SUPPORT_SYSTEM_RING_H_
#define QZ_TESTS_SUPPORT_SYSTEM_RING_H_

#include <liburing.h>

namespace qz_test {

inline bool SystemHasRing() {
  io_uring ring;
  if (io_uring_queue_init(4, &ring, 0) != 0) return false;
  io_uring_queue_exit(&ring);
  return true;
}

}  // namespace qz_test

#endif  // QZ_TESTS_SUPPORT_SYSTEM_RING_H_
