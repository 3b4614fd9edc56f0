// One directory held open by the walk, so that its files can be opened relative to it where
// the platform can (POSIX: a descriptor). The listing that read the directory may keep it open
// in one, and the walk hands it to the reads; whoever holds it last closes it.
#ifndef QZ_SEARCH_OPEN_DIRECTORY_H_
#define QZ_SEARCH_OPEN_DIRECTORY_H_

#include <cstdint>
#include <utility>

// Closes a directory handle that the platform's listing opened. One implementation per
// platform, beside the file reader.
void CloseDirectoryHandle(std::intptr_t handle);

class OpenDirectory {
 public:
  OpenDirectory() = default;
  explicit OpenDirectory(std::intptr_t handle) : handle_(handle) {}
  ~OpenDirectory() { Close(); }
  OpenDirectory(OpenDirectory&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}
  OpenDirectory& operator=(OpenDirectory&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, -1);
    }
    return *this;
  }
  OpenDirectory(const OpenDirectory&) = delete;
  OpenDirectory& operator=(const OpenDirectory&) = delete;

  // The handle, or -1 when none is held.
  std::intptr_t get() const { return handle_; }
  // The handle, now the caller's to close.
  std::intptr_t Release() { return std::exchange(handle_, -1); }

 private:
  void Close() {
    if (handle_ != -1) CloseDirectoryHandle(std::exchange(handle_, -1));
  }

  std::intptr_t handle_ = -1;
};

#endif  // QZ_SEARCH_OPEN_DIRECTORY_H_
