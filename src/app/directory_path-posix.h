// The path of a directory held open, where the system tells it. One implementation for Linux,
// one for any other POSIX system; only dir_listing-posix.cc uses this.
#ifndef QZ_APP_DIRECTORY_PATH_POSIX_H_
#define QZ_APP_DIRECTORY_PATH_POSIX_H_

#include <string>

// Sets `path` to the absolute path, every link resolved, of the directory open as `fd`, as the
// system knows it now; false where the system cannot tell (the caller then resolves it by its
// own means).
bool PathOfOpenDirectory(int fd, std::string& path);

#endif  // QZ_APP_DIRECTORY_PATH_POSIX_H_
