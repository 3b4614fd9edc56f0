// One owner for every Windows handle the tool opens: the console devices of the keyboard, and
// the directory listing's searches and directories. Windows builds only.
#ifndef QZ_CONSOLE_OWNED_HANDLE_WIN32_H_
#define QZ_CONSOLE_OWNED_HANDLE_WIN32_H_

#include <windows.h>

// Owns one handle and closes it with `Close` when it goes. A handle that is
// INVALID_HANDLE_VALUE (what a failed open gives) owns nothing.
template <BOOL(WINAPI* Close)(HANDLE)>
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() {
    if (valid()) Close(handle_);
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

using FileHandle = OwnedHandle<CloseHandle>;  // CreateFile's handles
using FindHandle = OwnedHandle<FindClose>;    // FindFirstFile's searches

#endif  // QZ_CONSOLE_OWNED_HANDLE_WIN32_H_
