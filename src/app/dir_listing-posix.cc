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

// Fills in what the entry is: whether it leads to a directory (links are followed, so a link
// to a directory counts and a dangling link does not), and whether it is a link.
void Classify(int dirFd, const dirent* entry, DirectoryEntry& out) {
  out.isRegularFile = entry->d_type == DT_REG;
  out.isDirectory = entry->d_type == DT_DIR;
  out.isLink = entry->d_type == DT_LNK;
  struct stat st;
  if (entry->d_type == DT_UNKNOWN) {
    if (fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
    out.isDirectory = S_ISDIR(st.st_mode);
    out.isRegularFile = S_ISREG(st.st_mode);
    out.isLink = S_ISLNK(st.st_mode);
  }
  if (out.isLink) out.isDirectory = fstatat(dirFd, entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
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

bool ReadDirectoryEntries(const std::string& path, DirectoryListing& listing) {
  DirStream dir(path);
  if (!dir.get()) return false;
  const int fd = dirfd(dir.get());

  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (!entry) {
      if (errno != 0) return false;
      break;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    DirectoryEntry& out = listing.entries.emplace_back();
    out.name = name;
    Classify(fd, entry, out);
  }
  return true;
}
