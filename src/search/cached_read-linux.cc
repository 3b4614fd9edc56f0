// Reading without waiting for the disk on Linux: preadv2 with RWF_NOWAIT.
#include "search/cached_read-posix.h"

#include <sys/uio.h>

#include <cerrno>

#include "search/input_file.h"

// A file system that cannot read so (EOPNOTSUPP) gets the same answer as a wait for the disk:
// the caller cannot learn from it that the page cache holds the file.
std::int64_t PreadIfCached(int fd, char* into, std::size_t size, std::uint64_t offset) {
  struct iovec part = {into, size};
  ssize_t got;
  do got = preadv2(fd, &part, 1, static_cast<off_t>(offset), RWF_NOWAIT);
  while (got < 0 && errno == EINTR);
  if (got < 0) return errno == EAGAIN || errno == EOPNOTSUPP ? InputFile::kWouldWait : -1;
  return got;
}
