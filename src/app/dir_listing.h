// Platform seam: listing one directory. One implementation per platform.
#ifndef QZ_APP_DIR_LISTING_H_
#define QZ_APP_DIR_LISTING_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
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

  // The serial number the listing gave entry `i` (its inode number on POSIX), kept for a
  // directory that is no link only: 0 for any other entry, or where the platform gives none.
  std::uint64_t Serial(std::size_t i) const;

  // Adds an entry with a copy of `name` (and, for a directory that is no link, `serial`).
  // Throws std::bad_alloc when memory runs out.
  void Add(std::string_view name, bool isDirectory, bool isRegularFile, bool isLink,
           std::uint64_t serial = 0);

  // A listing of the entries that lead to directories alone, in their order, with their names
  // and serial numbers: what the walk holds for a directory whose subdirectories are still to
  // come. KeepDirectories makes this listing that, giving back the memory of the rest.
  DirectoryListing Directories() const;
  void KeepDirectories() { *this = Directories(); }

  void Clear();

 private:
  // Stores `name`, its NUL and `extra` bytes after it.
  char* Store(std::string_view name, std::size_t extra);

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

// The directories a walk has entered, each by its resolved path (see ResolveDirectory). Links
// can lead to one directory along many paths (a loop back to an ancestor, or a lattice of links
// that would multiply at every level); it is entered once.
using EnteredDirectories = std::unordered_set<std::string>;

// What a walk asks of a listing: that it be of a directory not entered yet.
struct EnterRequest {
  EnteredDirectories& entered;
  // The resolved path the walk expects (its parent's joined with the name of an entry that
  // listing saw as a directory and no link), or empty. Where the platform can check that the
  // directory opened is that one, it is taken without resolving.
  std::string_view expected;
  // The serial number the parent's listing gave that entry (DirectoryListing::Serial), or 0:
  // a directory whose own entry "." gives the same is taken to be the one expected.
  std::uint64_t expectedSerial = 0;
  std::string resolved = {};  // set to the resolved path of the directory opened
};

// ListDirectory for a walk: the directory `path` leads to when it is opened (whatever is there
// then, links followed) is resolved from that opening, and its entries are read only when it
// is not in `request.entered` yet; it is then added there. False when it was entered before,
// or cannot be opened or read. The directory listed is the one known by the path added.
bool ListDirectoryOnce(const std::string& path, EnterRequest& request,
                       DirectoryListing& listing, OpenDirectory* keepOpen = nullptr,
                       const LeadBytes& leadBytes = LeadBytes());

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

// The platform's part of ListDirectory and ListDirectoryOnce: adds the entries to `listing`
// (empty on entry) in whatever order the platform delivers them, and keeps the directory open
// in `keepOpen` (when given) where it can. With `request`, the directory is first entered as
// ListDirectoryOnce says, and false means nothing was read.
bool ReadDirectoryEntries(const std::string& path, DirectoryListing& listing,
                          OpenDirectory* keepOpen, EnterRequest* request = nullptr);

#endif  // QZ_APP_DIR_LISTING_H_
