// Platform seam: one file open for reading (InputFile). One implementation per platform.
#ifndef QZ_SEARCH_INPUT_FILE_H_
#define QZ_SEARCH_INPUT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class OpenResult {
  Opened,
  NotOpened,  // missing, not a regular file, access denied: the file is passed over unseen
  Failed,     // opened, but could not be measured: passed over as well
};

// Serves the first bytes of a file that was handed over open (see InputFile::Adopt), for the
// reads that opened it: they may hold those bytes already, read ahead, or learn something from
// reading them, such as whether the read had to wait for the disk. A record of the reads'
// functions rather than an interface of virtual calls: the sanitizers check the object of a
// virtual call through a pipe, which fails where a test leaves no descriptor free.
class FirstPartReader {
 public:
  using ReadFunction = std::int64_t (*)(void* reads, std::intptr_t handle, char* into,
                                        std::size_t size);
  using LendFunction = std::string_view (*)(void* reads, std::intptr_t handle);

  FirstPartReader(void* reads, ReadFunction read, LendFunction lend)
      : reads_(reads), read_(read), lend_(lend) {}

  // Reads up to `size` bytes from the start of the open file `handle`, as InputFile::Read
  // would; the file's reads go on after the bytes this returns.
  std::int64_t ReadFirstPart(std::intptr_t handle, char* into, std::size_t size) const {
    return read_(reads_, handle, into, size);
  }

  // The first bytes of `handle` where they are held already (read ahead), lent without a copy:
  // they stay as they are until the reads open their next file or a prompt comes, and the
  // file's reads go on after them. Empty when none are held.
  std::string_view LendFirstPart(std::intptr_t handle) const { return lend_(reads_, handle); }

 private:
  void* reads_;
  ReadFunction read_;
  LendFunction lend_;
};

// One file open for reading only, closed by the destructor at the latest. Never writes.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile() { Close(); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens `path` if it names a regular file (a link to one counts) and sets `length` to its
  // size. A FIFO, socket or device is never opened in a way that could block or act on it.
  // `knownRegular` says the directory listing has just seen a regular file there, which spares
  // a look before the open; what was opened is checked all the same. On POSIX nothing reached
  // through a link is opened for reading unless it is a regular file.
  OpenResult Open(const std::string& path, bool knownRegular, std::uint64_t& length);

  // Reads up to `size` bytes at the current position. Returns the number read, 0 at the end of
  // the file, -1 on failure.
  std::int64_t Read(char* into, std::size_t size);

  // Maps the first `length` bytes of the open file read-only, until Close; nullptr when the
  // platform cannot (the caller then reads). Should the file shrink while it is mapped, the
  // bytes it lost read as zeros instead of faulting, and MappedIntact tells where they begin.
  const char* Map(std::uint64_t length);
  std::uint64_t MappedIntact() const;
  // Lets the system take back the memory of the mapped bytes [from, from + size), which the
  // caller has copied: read again, they are mapped anew from the file. Where the platform
  // cannot, nothing happens.
  void ReleaseMapped(const char* from, std::size_t size);

  void Close();

  // POSIX, where files are opened ahead: takes over `handle`, a regular file already open for
  // reading, from its start. The first Read goes through `firstPart`, which must outlive that
  // Read.
  void Adopt(std::intptr_t handle, const FirstPartReader* firstPart);

  // Before the first Read of an adopted file: its first bytes as its opener lends them (see
  // FirstPartReader::LendFirstPart), or empty; always empty where nothing is adopted. Reads go
  // on after them.
  std::string_view BorrowFirstPart();

 private:
  std::intptr_t handle_ = -1;
  std::uint64_t offset_ = 0;                    // where the next Read starts (POSIX)
  const FirstPartReader* firstPart_ = nullptr;  // serves the first Read of an adopted file (POSIX)
  const char* mapping_ = nullptr;
  std::uint64_t mappedLength_ = 0;
};

#endif  // QZ_SEARCH_INPUT_FILE_H_
