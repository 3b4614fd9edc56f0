#include "app/dir_listing.h"

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

bool ReadDirectoryEntries(const std::string& path, DirectoryListing& listing,
                          OpenDirectory* keepOpen) {
  DirStream dir(path);
  if (!dir.get()) return false;
  const int fd = dirfd(dir.get());
  bool holdsFiles = false;

  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (!entry) {
      if (errno != 0) return false;
      break;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    const EntryKind kind = Classify(fd, entry);
    listing.Add(name, kind.isDirectory, kind.isRegularFile, kind.isLink);
    holdsFiles = holdsFiles || !kind.isDirectory;
  }
  // A copy of the stream's descriptor outlives the stream; without one (descriptors short) the
  // entries are opened by their paths. A directory of directories alone needs none.
  if (keepOpen && holdsFiles) {
    const int kept = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (kept >= 0) *keepOpen = OpenDirectory(kept);
  }
  return true;
}
