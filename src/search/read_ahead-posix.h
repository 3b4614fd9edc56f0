// Reading ahead of the scan on POSIX: the files of the directory being searched are opened
// relative to its descriptor and their first part read, a bounded number at a time, through
// io_uring once a read has had to wait for the disk; until then, and where io_uring cannot be
// set up, the same steps run as plain calls, one file at a time. Only file_reader-posix.cc
// uses this.
#ifndef QZ_SEARCH_READ_AHEAD_POSIX_H_
#define QZ_SEARCH_READ_AHEAD_POSIX_H_

#include <sys/stat.h>

#include <string>
#include <vector>

#include "search/file_reader.h"

// What a file read ahead hands over: its descriptor (open for reading, a regular file), what
// fstat said of it, and its first bytes. The descriptor's position stands after those bytes.
struct TakenFile {
  int fd = -1;
  struct stat st = {};
  std::string bytes;
};

// Whether `path` is the next file of the plan and was opened ahead: then `taken` holds it.
// False otherwise (not planned, or the open ahead failed for any reason): the caller opens the
// file itself, as if there were no read-ahead.
bool TakeReadAhead(const std::string& path, TakenFile& taken);

#endif  // QZ_SEARCH_READ_AHEAD_POSIX_H_
