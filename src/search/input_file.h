// Platform seam: one file open for reading (InputFile). One implementation per platform.
#ifndef QZ_SEARCH_INPUT_FILE_H_
#define QZ_SEARCH_INPUT_FILE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

enum class OpenResult {
  Opened,
  NotOpened,  // missing, not a regular file, access denied: the file is passed over unseen
  Failed,     // opened, but could not be measured: passed over as well
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

  // Gives the open file up without closing it, for the caller to close: unmaps what is mapped
  // and returns the handle, or -1 when none is open.
  std::intptr_t Release() {
    const std::intptr_t handle = std::exchange(handle_, -1);
    Close();
    return handle;
  }

  // Takes over `handle`, a regular file open for reading that whoever opened it (the reads
  // ahead, where the platform has them) has read the first `from` bytes of, and holds for the
  // caller: Read goes on after them.
  void Adopt(std::intptr_t handle, std::uint64_t from);

  // Read, as far as the system holds the bytes in memory already: kWouldWait, with nothing
  // read, when the read would have to wait for the disk (or the system cannot read without
  // waiting). Where the platform cannot tell, the same as Read.
  std::int64_t ReadIfCached(char* into, std::size_t size);
  static constexpr std::int64_t kWouldWait = -2;

 private:
  std::intptr_t handle_ = -1;
  std::uint64_t offset_ = 0;  // where the next Read starts, where the platform reads at offsets
  const char* mapping_ = nullptr;
  std::uint64_t mappedLength_ = 0;
};

#endif  // QZ_SEARCH_INPUT_FILE_H_
