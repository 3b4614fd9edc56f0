// Platform seam: listing one directory. One implementation per platform.
#ifndef QZ_APP_DIR_LISTING_H_
#define QZ_APP_DIR_LISTING_H_

#include <cstdint>
#include <string>
#include <vector>

// Identifies a directory on this machine, whatever path leads to it.
struct DirectoryId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  auto operator<=>(const DirectoryId&) const = default;
};

struct DirectoryEntry {
  std::string name;
  bool isDirectory = false;    // a directory, or a link that leads to one
  bool isRegularFile = false;  // known, without following a link, to be a regular file
};

struct DirectoryListing {
  DirectoryId id;
  std::vector<DirectoryEntry> entries;  // "." and ".." excluded
};

// Reads the whole directory at `path` and closes it again before returning, so that a deep walk
// holds no listings open. Entries come sorted by name, ASCII letters compared without regard
// to case and ties broken by bytes, so every run walks in the same order. Returns false when
// the directory cannot be opened or read.
bool ListDirectory(const std::string& path, DirectoryListing& listing);

// The order ListDirectory sorts names in.
bool NameOrderLess(const std::string& a, const std::string& b);

// The id of the directory at `path` (links followed), at the cost of one look at it and no
// listing. False when there is no directory there.
bool ReadDirectoryId(const std::string& path, DirectoryId& id);

// The platform's part of ListDirectory: fills `listing` (empty on entry) with the id and the
// entries in whatever order the platform delivers them.
bool ReadDirectoryEntries(const std::string& path, DirectoryListing& listing);

#endif  // QZ_APP_DIR_LISTING_H_
