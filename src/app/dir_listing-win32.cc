// Listing a directory on Windows.
//
// The listing runs on the wide functions with a "\\?\" full path: the ANSI ones stop at 260
// characters, and read a last component such as CON or COM1 as a device. Names come back in
// the code page of the ANSI file functions, as those would have given them.
#include "app/dir_listing.h"
#include "search/extended_path-win32.h"

#include <windows.h>

#include <string_view>
#include <utility>

namespace {

// Owns one handle of the kind `Close` closes (FindClose for a search, CloseHandle for a file).
template <BOOL(WINAPI* Close)(HANDLE)>
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) Close(handle_);
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};
using FindHandle = OwnedHandle<FindClose>;
using FileHandle = OwnedHandle<CloseHandle>;

// The volume and file index of the directory, whatever link or junction led to it.
bool ReadIdOf(const std::wstring& directory, DirectoryId& id) {
  FileHandle handle(CreateFileW(directory.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (handle.get() == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle.get(), &info)) return false;
  id.device = info.dwVolumeSerialNumber;
  id.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

}  // namespace

bool ReadDirectoryId(const std::string& path, DirectoryId& id) {
  const std::wstring directory = ExtendedPath(path, /*directory=*/true);
  return !directory.empty() && ReadIdOf(directory, id);
}

bool ReadDirectoryEntries(const std::string& path, DirectoryListing& listing) {
  const std::wstring directory = ExtendedPath(path, /*directory=*/true);
  if (directory.empty()) return false;

  WIN32_FIND_DATAW found;
  FindHandle search(FindFirstFileExW((directory + L'*').c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0));
  if (search.get() == INVALID_HANDLE_VALUE) return false;
  if (!ReadIdOf(directory, listing.id)) return false;

  do {
    const std::wstring_view name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    // Links and junctions to directories carry the directory attribute too.
    const DWORD attributes = found.dwFileAttributes;
    const bool isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    constexpr DWORD kNotRegular =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    const bool isRegularFile = (attributes & kNotRegular) == 0;
    std::string narrow = NarrowFileName(found.cFileName);
    if (!narrow.empty())
      listing.entries.push_back({std::move(narrow), isDirectory, isRegularFile});
  } while (FindNextFileW(search.get(), &found));
  return GetLastError() == ERROR_NO_MORE_FILES;
}
