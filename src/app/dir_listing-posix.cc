#include "app/dir_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

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

// Whether the entry leads to a directory; links are followed, so a link to a directory
// counts and a dangling link does not.
bool LeadsToDirectory(int dirFd, const dirent* entry) {
  if (entry->d_type == DT_DIR) return true;
  if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) return false;
  struct stat st;
  return fstatat(dirFd, entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool ReadDirectoryId(const std::string& path, DirectoryId& id) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return true;
}

bool ReadDirectoryEntries(const std::string& path, DirectoryListing& listing) {
  DirStream dir(path);
  if (!dir.get()) return false;
  const int fd = dirfd(dir.get());
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  listing.id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};

  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (!entry) {
      if (errno != 0) return false;
      break;
    }
    const std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    listing.entries.push_back(
        {std::string(name), LeadsToDirectory(fd, entry), entry->d_type == DT_REG});
  }
  return true;
}
