// Reading without waiting for the disk on any POSIX system: there is no such read, so a plain
// one.
#include "search/cached_read-posix.h"

#include <unistd.h>

#include <cerrno>

std::int64_t PreadIfCached(int fd, char* into, std::size_t size, std::uint64_t offset) {
  ssize_t got;
  do got = pread(fd, into, size, static_cast<off_t>(offset));
  while (got < 0 && errno == EINTR);
  return got < 0 ? -1 : got;
}
