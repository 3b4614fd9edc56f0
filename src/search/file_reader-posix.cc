#include "search/file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <stdexcept>

namespace {

// Owns one open descriptor.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

ReadResult ReadWholeFile(const std::string& path, std::string& bytes) {
  // Look before opening: opening a device node can have effects of its own.
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return ReadResult::NotOpened;

  // O_NONBLOCK keeps open() from waiting should the entry have been swapped for a FIFO since
  // the look; the fstat below then turns it away.
  FileDescriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.get() < 0) return ReadResult::NotOpened;
  if (fstat(file.get(), &st) != 0) return ReadResult::Failed;
  if (!S_ISREG(st.st_mode)) return ReadResult::NotOpened;

  const auto length = static_cast<unsigned long long>(st.st_size);
  try {
    bytes.resize(length);
  } catch (const std::bad_alloc&) {
    return ReadResult::Failed;
  } catch (const std::length_error&) {
    return ReadResult::Failed;
  }

  // Read up to the measured length: a file that shrinks meanwhile yields what it still has,
  // one that grows yields what it held when it was measured.
  std::size_t got = 0;
  while (got < bytes.size()) {
    ssize_t r = read(file.get(), bytes.data() + got, bytes.size() - got);
    if (r < 0) {
      if (errno == EINTR) continue;
      return ReadResult::Failed;
    }
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  bytes.resize(got);
  return ReadResult::Loaded;
}
