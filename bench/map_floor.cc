// The floor of a large file's search: what one thread pays to map the file as qz maps it (read
// only, private, read sequentially) and pass over every byte with memchr, without searching.
// `map_floor FILE` prints where the first byte 26 is, or that there is none.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: map_floor FILE\n");
    return 2;
  }
  const int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0 || st.st_size <= 0) {
    std::perror(argv[1]);
    return 1;
  }
  const auto size = static_cast<std::size_t>(st.st_size);
  void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (p == MAP_FAILED) {
    std::perror("mmap");
    return 1;
  }
  madvise(p, size, MADV_SEQUENTIAL);
  const void* end = std::memchr(p, 26, size);
  if (end)
    std::printf("byte 26 at %zu\n", static_cast<std::size_t>(static_cast<const char*>(end) -
                                                             static_cast<const char*>(p)));
  else
    std::printf("no byte 26 in %zu bytes\n", size);
  munmap(p, size);
  close(fd);
  return 0;
}
