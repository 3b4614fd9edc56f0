// How files are opened for reading on POSIX: the flags, the longest path, and opening what a
// path leads to (links followed) only when it is a regular file. OpenCheckedRegular has one
// implementation for Linux, one for any other POSIX system; only input_file-posix.cc and the
// Linux reads use this.
#ifndef QZ_SEARCH_CHECKED_OPEN_POSIX_H_
#define QZ_SEARCH_CHECKED_OPEN_POSIX_H_

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstddef>
#include <string>

// How files are opened for reading: never blocking (a FIFO would wait for a writer), never
// taking a terminal, closed on exec.
inline constexpr int kCheckedReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
// How an entry the listing saw as a regular file is opened, by its path or by its name in its
// directory: as above, and without following a link, so that an entry swapped for a link since
// is not opened through it.
inline constexpr int kEntryReadFlags = kCheckedReadFlags | O_NOFOLLOW;

// Whether a path of `size` bytes can name a file here. A longer one is passed over whichever
// way the file would be opened: also by its name relative to its directory, which the system
// would allow.
inline bool PathWithinLimit(std::size_t size) { return size < PATH_MAX; }

// A descriptor open for reading on the regular file `path` leads to, looked at before it is
// opened and checked after, or -1. A FIFO, socket or device is not opened (see each
// implementation for the instant between the look and the open).
int OpenCheckedRegular(const std::string& path);

// `fd` (or -1) when it is open on the very file `seen` describes, as looked at before the
// open; otherwise `fd` is closed and the result is -1.
inline int KeptIfSameFile(int fd, const struct stat& seen) {
  struct stat opened;
  if (fd >= 0 && (fstat(fd, &opened) != 0 || opened.st_dev != seen.st_dev ||
                  opened.st_ino != seen.st_ino)) {
    close(fd);
    return -1;
  }
  return fd;
}

#endif  // QZ_SEARCH_CHECKED_OPEN_POSIX_H_
