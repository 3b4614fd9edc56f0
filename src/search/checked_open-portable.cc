// Opening a file only when it is a regular one, on any POSIX system: the path is looked at,
// then opened again without blocking, and kept only when it is the very file looked at. An
// entry swapped for a FIFO or device in the instant between the two can be opened, though
// nothing is read from it.
#include "search/checked_open-posix.h"

#include <sys/stat.h>
#include <unistd.h>

int OpenCheckedRegular(const std::string& path) {
  struct stat seen;
  if (stat(path.c_str(), &seen) != 0 || !S_ISREG(seen.st_mode)) return -1;
  int fd = open(path.c_str(), kCheckedReadFlags);
  return KeptIfSameFile(fd, seen);
}
