#include "app/dir_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
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

bool NameOrderLess(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto fold = [](char c) {
      const auto u = static_cast<unsigned char>(c);
      return (u >= 'A' && u <= 'Z') ? u + ('a' - 'A') : u;
    };
    if (fold(a[i]) != fold(b[i])) return fold(a[i]) < fold(b[i]);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

bool ListDirectory(const std::string& path, DirectoryListing& listing) {
  listing.entries.clear();
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
    listing.entries.push_back({std::string(name), LeadsToDirectory(fd, entry)});
  }
  std::sort(listing.entries.begin(), listing.entries.end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return NameOrderLess(a.name, b.name); });
  return true;
}
