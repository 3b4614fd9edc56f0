#include "app/dir_listing.h"
#include "app/directory_path-posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace {

// Owns one open directory stream.
class DirStream {
 public:
  explicit DirStream(const std::string& path) : dir_(opendir(path.c_str())) {}
  ~DirStream() {
    if (dir_) closedir(dir_);
  }
  DirStream(const DirStream&) = delete;
  DirStream& operator=(const DirStream&) = delete;
  DIR* get() const { return dir_; }

 private:
  DIR* dir_;
};

// What an entry is: whether it leads to a directory (links are followed, so a link to a
// directory counts and a dangling link does not), and whether it is a link.
struct EntryKind {
  bool isDirectory = false;
  bool isRegularFile = false;
  bool isLink = false;
};

EntryKind Classify(int dirFd, const dirent* entry) {
  EntryKind kind;
  kind.isRegularFile = entry->d_type == DT_REG;
  kind.isDirectory = entry->d_type == DT_DIR;
  kind.isLink = entry->d_type == DT_LNK;
  struct stat st;
  if (entry->d_type == DT_UNKNOWN) {
    if (fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return kind;
    kind.isDirectory = S_ISDIR(st.st_mode);
    kind.isRegularFile = S_ISREG(st.st_mode);
    kind.isLink = S_ISLNK(st.st_mode);
  }
  if (kind.isLink)
    kind.isDirectory = fstatat(dirFd, entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
  return kind;
}

}  // namespace

bool ResolveDirectory(const std::string& path, std::string& resolved) {
  char* const real = realpath(path.c_str(), nullptr);
  if (!real) return false;
  std::string found(real);
  std::free(real);
  struct stat st;
  if (stat(found.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  resolved = std::move(found);
  return true;
}

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The resolved path of the directory open as `fd`, which was opened by `path`; `expected` as
// for EnterRequest. Where the system does not tell it, the expected path is taken when `path`
// names, without a link at its end, the directory open; otherwise `path` is resolved, and must
// still lead to the directory open.
bool ResolveOpenedDirectory(int fd, const std::string& path, std::string_view expected,
                            std::string& resolved) {
  if (PathOfOpenDirectory(fd, resolved)) return true;
  struct stat opened, there;
  if (fstat(fd, &opened) != 0) return false;
  if (!expected.empty() && lstat(path.c_str(), &there) == 0 && S_ISDIR(there.st_mode) &&
      SameFile(there, opened)) {
    resolved = expected;
    return true;
  }
  std::string found;
  if (!ResolveDirectory(path, found) || stat(found.c_str(), &there) != 0 ||
      !SameFile(there, opened))
    return false;
  resolved = std::move(found);
  return true;
}

}  // namespace

bool ReadDirectoryEntries(const std::string& path, DirectoryListing& listing,
                          OpenDirectory* keepOpen, EnterRequest* request) {
  DirStream dir(path);
  if (!dir.get()) return false;
  const int fd = dirfd(dir.get());
  // The directory is known by what was opened, whatever the listing of its parent saw there.
  // The one expected, not entered yet, is known without a question to the system: its entry
  // "." must give the serial number its parent's listing gave it, or it is resolved after all
  // (its entries read in vain, which only a directory changed since the parent's listing
  // costs). Any other is resolved before its entries are read.
  const auto enter = [&](std::string resolved) {
    const auto [at, fresh] = request->entered.insert(std::move(resolved));
    if (fresh) request->resolved = *at;
    return fresh;
  };
  const bool checkAfter = request && !request->expected.empty() &&
                          request->expectedSerial != 0 &&
                          !request->entered.contains(std::string(request->expected));
  if (request && !checkAfter) {
    std::string resolved;
    if (!ResolveOpenedDirectory(fd, path, request->expected, resolved) ||
        !enter(std::move(resolved)))
      return false;
  }
  std::uint64_t serial = 0;  // what "." gives
  bool holdsFiles = false;

  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (!entry) {
      if (errno != 0) return false;
      break;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") {
      if (name == ".") serial = entry->d_ino;
      continue;
    }
    const EntryKind kind = Classify(fd, entry);
    listing.Add(name, kind.isDirectory, kind.isRegularFile, kind.isLink, entry->d_ino);
    holdsFiles = holdsFiles || !kind.isDirectory;
  }
  if (checkAfter) {
    std::string resolved;
    if (serial == request->expectedSerial) resolved = request->expected;
    else if (!ResolveOpenedDirectory(fd, path, request->expected, resolved)) return false;
    if (!enter(std::move(resolved))) return false;
  }
  // A copy of the stream's descriptor outlives the stream; without one (descriptors short) the
  // entries are opened by their paths. A directory of directories alone needs none.
  if (keepOpen && holdsFiles) {
    const int kept = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (kept >= 0) *keepOpen = OpenDirectory(kept);
  }
  return true;
}
