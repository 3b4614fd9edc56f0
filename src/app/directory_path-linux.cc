// The path of an open directory on Linux: what /proc tells of the descriptor.
#include "app/directory_path-posix.h"

#include <unistd.h>

bool PathOfOpenDirectory(int fd, std::string& path) {
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  std::string target(256, '\0');
  for (;;) {
    const ssize_t n = readlink(link.c_str(), target.data(), target.size());
    if (n <= 0) return false;  // no /proc here, or a path longer than it gives
    if (static_cast<std::size_t>(n) < target.size()) {
      target.resize(static_cast<std::size_t>(n));
      break;
    }
    target.resize(2 * target.size());
  }
  // Anything else (a directory out of this process's view of the file system) is resolved
  // the other way.
  if (target.front() != '/') return false;
  path = std::move(target);
  return true;
}
