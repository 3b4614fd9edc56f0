// Platform seam: listing one directory. One implementation per platform.
#ifndef QZ_APP_DIR_LISTING_H_
#define QZ_APP_DIR_LISTING_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "search/code_page.h"
#include "search/open_directory.h"

// One entry of a listing. Its name lives in the listing's store, NUL-terminated, and stays
// where it is for as long as the listing does, so that the walk, the reads ahead and the paths
// all refer to the one copy.
struct DirectoryEntry {
  const char* name = nullptr;
  std::uint32_t nameSize = 0;
  bool isDirectory = false;    // a directory, or a link that leads to one
  bool isRegularFile = false;  // known, without following a link, to be a regular file
  bool isLink = false;         // a symbolic link (or, on Windows, a junction)
};

// The entries of one directory ("." and ".." excluded) and the store their names live in: names
// are packed into blocks that never move, so a listing costs its names' bytes and one small
// record per entry.
class DirectoryListing {
 public:
  std::vector<DirectoryEntry> entries;

  std::string_view Name(std::size_t i) const { return {entries[i].name, entries[i].nameSize}; }

  // Adds an entry with a copy of `name`. Throws std::bad_alloc when memory runs out.
  void Add(std::string_view name, bool isDirectory, bool isRegularFile, bool isLink);

  // Keeps only the entries that lead to directories, in their order, and gives back the memory
  // of the rest (names included): what the walk holds for a directory whose subdirectories
  // are still to come.
  void KeepDirectories();

  void Clear();

 private:
  char* Store(std::string_view name);

  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t blockSize_ = 0;  // of the last block
  std::size_t used_ = 0;       // bytes taken in the last block
};

// Reads the whole directory at `path` and closes it again before returning, so that a deep walk
// holds no listings open. Entries come sorted by name (NameOrderLessIn, with `leadBytes`, those
// of the code page the names are spelled in), so every run walks in the same order. Returns
// false when the directory cannot be opened or read. With `keepOpen`, the directory is left
// open in it as well, where the platform can, for opening the entries relative to it.
bool ListDirectory(const std::string& path, DirectoryListing& listing,
                   OpenDirectory* keepOpen = nullptr, const LeadBytes& leadBytes = LeadBytes());

// The order ListDirectory sorts names in: ASCII letters compared without regard to case, ties
// broken by bytes. NameOrderLess reads names as one byte a character; NameOrderLessIn reads
// them in the code page whose lead bytes `leadBytes` are, and folds only the bytes that are
// characters of their own, never a trail byte (with no lead bytes, the two are one order).
bool NameOrderLess(std::string_view a, std::string_view b);
bool NameOrderLessIn(std::string_view a, std::string_view b, const LeadBytes& leadBytes);

// The one path of the directory that `path` leads to: absolute, every link resolved, so that
// every path to one directory gives the same and two directories never do (unlike device and
// inode numbers, which some file systems repeat). The path of a subdirectory that is no link
// is this path joined with its name. False when there is no directory there.
bool ResolveDirectory(const std::string& path, std::string& resolved);

// The platform's part of ListDirectory: adds the entries to `listing` (empty on entry) in
// whatever order the platform delivers them, and keeps the directory open in `keepOpen` (when
// given) where it can.
bool ReadDirectoryEntries(const std::string& path, DirectoryListing& listing,
                          OpenDirectory* keepOpen);

#endif  // QZ_APP_DIR_LISTING_H_
