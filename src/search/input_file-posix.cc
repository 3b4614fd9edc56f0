#include "search/input_file.h"
#include "search/cached_read-posix.h"
#include "search/checked_open-posix.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

namespace {

// The one mapping in use, for the bus-error handler. A file that shrinks while it is mapped
// makes reading its lost pages raise SIGBUS; the handler puts zero pages there instead and
// notes where the loss begins, so the search ends the content there and goes on.
char* volatile mappedBase = nullptr;
volatile std::size_t mappedSize = 0;
volatile std::size_t intactSize = SIZE_MAX;
// The action for SIGBUS that was in place before ours: any other bus error goes to it.
struct sigaction previousBusAction = {};

// Hands a bus error that is not the mapping's to the action installed before ours; with none,
// the signal's default action ends the process as it would have without us.
void ChainBusError(int sig, siginfo_t* info, void* context) {
  if (previousBusAction.sa_flags & SA_SIGINFO) {
    if (previousBusAction.sa_sigaction) {
      previousBusAction.sa_sigaction(sig, info, context);
      return;
    }
  } else if (previousBusAction.sa_handler != SIG_DFL && previousBusAction.sa_handler != SIG_IGN) {
    previousBusAction.sa_handler(sig);
    return;
  }
  // The default action (a bus error that is ignored would come back at once).
  signal(sig, SIG_DFL);
  raise(sig);
}

void OnBusError(int sig, siginfo_t* info, void* context) {
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
  ChainBusError(sig, info, context);
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

void CloseDirectoryHandle(std::intptr_t handle) { close(static_cast<int>(handle)); }

OpenResult InputFile::Open(const std::string& path, bool knownRegular, std::uint64_t& length) {
  Close();
  if (!PathWithinLimit(path.size())) return OpenResult::NotOpened;
  // A regular entry is opened without following a link: should it have been swapped for one
  // since the listing saw it, the open fails and the link's way below is taken. O_NONBLOCK keeps
  // the open from waiting on an entry swapped for a FIFO; the fstat below turns that away.
  // An entry not known to be regular (a link, or a file system that does not say) is looked at
  // first, so that a device, FIFO or socket is not even opened as a path.
  int fd = -1;
  if (knownRegular) {
    fd = open(path.c_str(), kEntryReadFlags);
    if (fd < 0 && errno == ELOOP) fd = OpenCheckedRegular(path);
  } else {
    struct stat seen;
    if (stat(path.c_str(), &seen) != 0 || !S_ISREG(seen.st_mode)) return OpenResult::NotOpened;
    fd = OpenCheckedRegular(path);
  }
  if (fd < 0) return OpenResult::NotOpened;
  handle_ = fd;
  struct stat st;
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

void InputFile::Adopt(std::intptr_t handle, std::uint64_t from) {
  Close();
  handle_ = handle;
  offset_ = from;
}

// Reads at an offset of its own rather than the descriptor's position: the first part may have
// been read elsewhere (ahead, into memory of the reads), which leaves the position alone.
std::int64_t InputFile::Read(char* into, std::size_t size) {
  if (handle_ < 0) return -1;
  if (size > INT_MAX) size = INT_MAX;
  std::int64_t got;
  do got = pread(static_cast<int>(handle_), into, size, static_cast<off_t>(offset_));
  while (got < 0 && errno == EINTR);
  if (got > 0) offset_ += static_cast<std::uint64_t>(got);
  return got < 0 ? -1 : got;
}

std::int64_t InputFile::ReadIfCached(char* into, std::size_t size) {
  if (handle_ < 0) return -1;
  if (size > INT_MAX) size = INT_MAX;
  const std::int64_t got = PreadIfCached(static_cast<int>(handle_), into, size, offset_);
  if (got > 0) offset_ += static_cast<std::uint64_t>(got);
  return got;
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

void InputFile::ReleaseMapped(const char* from, std::size_t size) {
  if (!mapping_ || from < mapping_ || size == 0) return;
  const auto pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(from) & ~(pageSize - 1);
  // Only whole pages: the page the range ends in may still hold bytes not copied yet.
  const auto end = (reinterpret_cast<std::uintptr_t>(from) + size) & ~(pageSize - 1);
  const auto mappedEnd = reinterpret_cast<std::uintptr_t>(mapping_) + mappedLength_;
  if (end <= start || end > mappedEnd) return;
  madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED);
}

void InputFile::Close() {
  if (mapping_) {
    mappedBase = nullptr;
    munmap(const_cast<char*>(mapping_), static_cast<std::size_t>(mappedLength_));
    mapping_ = nullptr;
    mappedLength_ = 0;
  }
  offset_ = 0;
  if (handle_ < 0) return;
  close(static_cast<int>(handle_));
  handle_ = -1;
}
