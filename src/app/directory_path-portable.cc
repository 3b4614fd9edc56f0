// The path of an open directory on any POSIX system: not told; the caller resolves it.
#include "app/directory_path-posix.h"

bool PathOfOpenDirectory(int, std::string&) { return false; }
