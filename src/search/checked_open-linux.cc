// Opening a file only when it is a regular one, on Linux: through a descriptor of the path.
#include "search/checked_open-posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

// Opens for reading what `path` leads to, only when that is a regular file: the path is
// opened as a path first (which reads nothing and acts on nothing), the inode behind it is
// checked, and then that very inode is opened through /proc. Where /proc is not mounted, or
// the second descriptor this takes cannot be had, the path is opened again (without blocking)
// and what was opened must be the inode checked; only then can an entry swapped in the instant
// between the look and this open be opened, though nothing is read from it.
int OpenCheckedRegular(const std::string& path) {
  const int pathFd = open(path.c_str(), O_PATH | O_CLOEXEC);
  if (pathFd < 0) return -1;
  struct stat seen;
  if (fstat(pathFd, &seen) != 0 || !S_ISREG(seen.st_mode)) {
    close(pathFd);
    return -1;
  }
  int fd = open(("/proc/self/fd/" + std::to_string(pathFd)).c_str(), kCheckedReadFlags);
  const int error = errno;
  close(pathFd);
  if (fd < 0 && (error == ENOENT || error == EMFILE || error == ENFILE))
    fd = open(path.c_str(), kCheckedReadFlags);
  return KeptIfSameFile(fd, seen);
}

