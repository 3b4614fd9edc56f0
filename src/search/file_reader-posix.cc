#include "search/file_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>

namespace {

// The one mapping in use, for the bus-error handler. A file that shrinks while it is mapped
// makes reading its lost pages raise SIGBUS; the handler puts zero pages there instead and
// notes where the loss begins, so the search ends the content there and goes on.
char* volatile mappedBase = nullptr;
volatile std::size_t mappedSize = 0;
volatile std::size_t intactSize = SIZE_MAX;
// The action in place before the handler's own, which takes every other bus error.
struct sigaction previousBusAction;

void OnBusError(int sig, siginfo_t* info, void*) {
  char* const base = mappedBase;
  const std::size_t size = mappedSize;
  const auto addr = reinterpret_cast<std::uintptr_t>(info->si_addr);
  const auto start = reinterpret_cast<std::uintptr_t>(base);
  if (base && addr >= start && addr < start + size) {
    const std::uintptr_t pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const std::uintptr_t page = addr & ~(pageSize - 1);
    const std::size_t offset = page - start;
    if (mmap(reinterpret_cast<void*>(page), size - offset, PROT_READ,
             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
      if (offset < intactSize) intactSize = offset;
      return;
    }
  }
  sigaction(sig, &previousBusAction, nullptr);
  raise(sig);
}

void InstallBusErrorHandler() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction sa = {};
  sa.sa_sigaction = OnBusError;
  sa.sa_flags = SA_SIGINFO;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGBUS, &sa, &previousBusAction);
}

}  // namespace

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

const char* InputFile::Map(std::uint64_t length) {
  if (handle_ < 0 || mapping_ || length == 0 || length > SIZE_MAX) return nullptr;
  InstallBusErrorHandler();
  void* p = mmap(nullptr, static_cast<std::size_t>(length), PROT_READ, MAP_PRIVATE,
                 static_cast<int>(handle_), 0);
  if (p == MAP_FAILED) return nullptr;
  madvise(p, static_cast<std::size_t>(length), MADV_SEQUENTIAL);
  mapping_ = static_cast<const char*>(p);
  mappedLength_ = length;
  intactSize = SIZE_MAX;
  mappedSize = static_cast<std::size_t>(length);
  mappedBase = static_cast<char*>(p);
  return mapping_;
}

std::uint64_t InputFile::MappedIntact() const {
  const std::size_t intact = intactSize;
  return intact < mappedLength_ ? intact : mappedLength_;
}

void InputFile::Close() {
  if (mapping_) {
    mappedBase = nullptr;
    munmap(const_cast<char*>(mapping_), static_cast<std::size_t>(mappedLength_));
    mapping_ = nullptr;
    mappedLength_ = 0;
  }
  if (handle_ < 0) return;
  close(static_cast<int>(handle_));
  handle_ = -1;
}
