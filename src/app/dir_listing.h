// Platform seam: listing one directory. One implementation per platform.
#ifndef QZ_APP_DIR_LISTING_H_
#define QZ_APP_DIR_LISTING_H_

#include <cstdint>
#include <string>
#include <vector>

struct DirectoryEntry {
  std::string name;
  bool isDirectory = false;    // a directory, or a link that leads to one
  bool isRegularFile = false;  // known, without following a link, to be a regular file
  bool isLink = false;         // a symbolic link (or, on Windows, a junction)
};

struct DirectoryListing {
  std::vector<DirectoryEntry> entries;  // "." and ".." excluded
};

// Reads the whole directory at `path` and closes it again before returning, so that a deep walk
// holds no listings open. Entries come sorted by name, ASCII letters compared without regard
// to case and ties broken by bytes, so every run walks in the same order. Returns false when
// the directory cannot be opened or read.
bool ListDirectory(const std::string& path, DirectoryListing& listing);

// The order ListDirectory sorts names in.
bool NameOrderLess(const std::string& a, const std::string& b);

// The one path of the directory that `path` leads to: absolute, every link resolved, so that
// every path to one directory gives the same and two directories never do (unlike device and
// inode numbers, which some file systems repeat). The path of a subdirectory that is no link
// is this path joined with its name. False when there is no directory there.
bool ResolveDirectory(const std::string& path, std::string& resolved);

// The platform's part of ListDirectory: fills `listing` (empty on entry) with the in whatever order the platform delivers them.
bool ReadDirectoryEntries(const std::string& path, DirectoryListing& listing);

#endif  // QZ_APP_DIR_LISTING_H_
