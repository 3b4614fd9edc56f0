#include "search/file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

OpenResult InputFile::Open(const std::string& path, bool knownRegular, std::uint64_t& length) {
  Close();
  struct stat st;
  // Look before opening: opening a device node can have effects of its own.
  if (!knownRegular && (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)))
    return OpenResult::NotOpened;

  // O_NONBLOCK keeps open() from waiting should the entry have been swapped for a FIFO since
  // it was seen; the fstat below then turns it away.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return OpenResult::NotOpened;
  handle_ = fd;
  if (fstat(fd, &st) != 0) {
    Close();
    return OpenResult::Failed;
  }
  if (!S_ISREG(st.st_mode)) {
    Close();
    return OpenResult::NotOpened;
  }
  length = static_cast<std::uint64_t>(st.st_size);
  return OpenResult::Opened;
}

std::int64_t InputFile::Read(char* into, std::size_t size) {
  if (handle_ < 0) return -1;
  if (size > INT_MAX) size = INT_MAX;
  for (;;) {
    const ssize_t n = read(static_cast<int>(handle_), into, size);
    if (n >= 0) return n;
    if (errno != EINTR) return -1;
  }
}

void InputFile::Close() {
  if (handle_ < 0) return;
  close(static_cast<int>(handle_));
  handle_ = -1;
}
