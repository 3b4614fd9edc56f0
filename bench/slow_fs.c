/* A slow file system for the benchmark: a read-only view of a directory, served through FUSE,
 * in which every request waits a fixed time before it is answered, as a file system across a
 * network does. As there, the kernel keeps names and attributes a short while (FUSE's default,
 * a second), but not listings, and a file's cached pages are dropped when it is opened, so a
 * run that starts a second after the last pays the wait for each file it opens and reads and
 * each directory it lists; requests are served by several threads, so a tool that has many in
 * flight waits for them together.
 *
 *   slow_fs SOURCE MOUNTPOINT DELAY_MS [FUSE OPTIONS]
 *
 * Runs in the foreground until the mount point is unmounted. */
#define FUSE_USE_VERSION 31
#define _GNU_SOURCE

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

static int source = -1; /* the directory served */
static struct timespec delay;

static void Wait(void) {
  struct timespec left = delay;
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

/* The path under SOURCE, relative to its descriptor: FUSE paths start with "/". */
static const char* Relative(const char* path) { return path[1] ? path + 1 : "."; }

static void* Init(struct fuse_conn_info* conn, struct fuse_config* cfg) {
  (void)conn;
  cfg->kernel_cache = 0;
  cfg->use_ino = 1;
  return NULL;
}

/* By the path even for an open file or directory: their handles are not all descriptors. */
static int GetAttr(const char* path, struct stat* st, struct fuse_file_info* fi) {
  (void)fi;
  Wait();
  return fstatat(source, Relative(path), st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : -errno;
}

static int ReadLink(const char* path, char* buf, size_t size) {
  Wait();
  const ssize_t n = readlinkat(source, Relative(path), buf, size - 1);
  if (n < 0) return -errno;
  buf[n] = '\0';
  return 0;
}

static int Access(const char* path, int mask) {
  Wait();
  return faccessat(source, Relative(path), mask, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : -errno;
}

static int OpenDir(const char* path, struct fuse_file_info* fi) {
  Wait();
  const int fd = openat(source, Relative(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -errno;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    const int error = errno;
    close(fd);
    return -error;
  }
  fi->fh = (uint64_t)(uintptr_t)dir;
  return 0;
}

/* The whole listing in one answer (offsets of 0): FUSE hands it to the kernel in parts. */
static int ReadDir(const char* path, void* buf, fuse_fill_dir_t fill, off_t offset,
                   struct fuse_file_info* fi, enum fuse_readdir_flags flags) {
  (void)path;
  (void)offset;
  (void)flags;
  Wait();
  DIR* dir = (DIR*)(uintptr_t)fi->fh;
  rewinddir(dir);
  for (struct dirent* e; (e = readdir(dir)) != NULL;) {
    struct stat st;
    memset(&st, 0, sizeof st);
    st.st_ino = e->d_ino;
    st.st_mode = (mode_t)(DTTOIF(e->d_type));
    if (fill(buf, e->d_name, &st, 0, 0)) break;
  }
  return 0;
}

static int ReleaseDir(const char* path, struct fuse_file_info* fi) {
  (void)path;
  Wait();
  closedir((DIR*)(uintptr_t)fi->fh);
  return 0;
}

static int Open(const char* path, struct fuse_file_info* fi) {
  Wait();
  if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  const int fd = openat(source, Relative(path), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -errno;
  fi->fh = (uint64_t)fd;
  fi->keep_cache = 0;
  return 0;
}

static int Read(const char* path, char* buf, size_t size, off_t offset,
                struct fuse_file_info* fi) {
  (void)path;
  Wait();
  const ssize_t n = pread((int)fi->fh, buf, size, offset);
  return n < 0 ? -errno : (int)n;
}

static int Flush(const char* path, struct fuse_file_info* fi) {
  (void)path;
  (void)fi;
  Wait();
  return 0;
}

static int Release(const char* path, struct fuse_file_info* fi) {
  (void)path;
  Wait();
  close((int)fi->fh);
  return 0;
}

static int StatFs(const char* path, struct statvfs* st) {
  (void)path;
  Wait();
  return fstatvfs(source, st) == 0 ? 0 : -errno;
}

static const struct fuse_operations kOperations = {
    .getattr = GetAttr,
    .readlink = ReadLink,
    .open = Open,
    .read = Read,
    .statfs = StatFs,
    .flush = Flush,
    .release = Release,
    .opendir = OpenDir,
    .readdir = ReadDir,
    .releasedir = ReleaseDir,
    .init = Init,
    .access = Access,
};

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: slow_fs SOURCE MOUNTPOINT DELAY_MS [FUSE OPTIONS]\n");
    return 2;
  }
  source = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (source < 0) {
    perror(argv[1]);
    return 1;
  }
  const long ms = strtol(argv[3], NULL, 10);
  delay.tv_sec = ms / 1000;
  delay.tv_nsec = (ms % 1000) * 1000000L;
  /* FUSE's own arguments: the mount point, in the foreground, read only, and whatever follows. */
  char* args[64];
  int n = 0;
  args[n++] = argv[0];
  args[n++] = argv[2];
  args[n++] = "-f";
  args[n++] = "-o";
  args[n++] = "ro,default_permissions,fsname=slow_fs";
  for (int i = 4; i < argc && n < 63; ++i) args[n++] = argv[i];
  args[n] = NULL;
  return fuse_main(n, args, &kOperations, NULL);
}
