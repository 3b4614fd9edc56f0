// The read floor: what one thread pays to walk a tree and read every regular file in 64 KiB
// reads, without searching. `read_floor DIR` prints the bytes and files read.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::uint64_t bytes = 0, files = 0;
char buffer[64 << 10];

// Directories are kept on a list of their own, each opened relative to its parent's descriptor.
void Walk(const std::string& root) {
  std::vector<std::string> pending{root};
  while (!pending.empty()) {
    const std::string dir = pending.back();
    pending.pop_back();
    const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) continue;
    DIR* stream = fdopendir(dirFd);
    if (!stream) {
      close(dirFd);
      continue;
    }
    while (const dirent* entry = readdir(stream)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      if (entry->d_type == DT_DIR) {
        pending.push_back(dir + "/" + name);
      } else if (entry->d_type == DT_REG) {
        const int fd = openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        ++files;
        for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) bytes += static_cast<std::uint64_t>(n);
        close(fd);
      }
    }
    closedir(stream);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: read_floor DIR\n");
    return 2;
  }
  Walk(argv[1]);
  std::printf("%llu bytes in %llu files\n", static_cast<unsigned long long>(bytes),
              static_cast<unsigned long long>(files));
  return 0;
}
