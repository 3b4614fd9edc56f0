// Reading without waiting for the disk, where the system can. One implementation for Linux,
// one for any other POSIX system; only input_file-posix.cc uses this.
#ifndef QZ_SEARCH_CACHED_READ_POSIX_H_
#define QZ_SEARCH_CACHED_READ_POSIX_H_

#include <cstddef>
#include <cstdint>

// Reads up to `size` bytes of `fd` at `offset`, as far as the system holds them in memory:
// the number read (0 at the end of the file), InputFile::kWouldWait with nothing read when the
// read would wait for the disk, -1 on failure. Where the system cannot tell, a plain read.
std::int64_t PreadIfCached(int fd, char* into, std::size_t size, std::uint64_t offset);

#endif  // QZ_SEARCH_CACHED_READ_POSIX_H_
