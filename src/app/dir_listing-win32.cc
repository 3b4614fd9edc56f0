// Listing a directory on Windows.
//
// The listing runs on the wide functions with a "\\?\" full path: the ANSI ones stop at 260
// characters, and read a last component such as CON or COM1 as a device. Names come back in
// the code page of the ANSI file functions, as those would have given them.
#include "app/dir_listing.h"
#include "console/owned_handle-win32.h"
#include "search/extended_path-win32.h"

#include <windows.h>

#include <string_view>
#include <utility>

// The final path of the directory, every link and junction on the way resolved.
bool ResolveDirectory(const std::string& path, std::string& resolved) {
  const std::wstring directory = ExtendedPath(path, /*directory=*/true);
  if (directory.empty()) return false;
  FileHandle handle(CreateFileW(directory.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle.valid()) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle.get(), &info) ||
      !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;
  std::wstring final(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetFinalPathNameByHandleW(handle.get(), final.data(),
                                              static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
    if (n == 0) return false;
    if (n < final.size()) {
      final.resize(n);
      break;
    }
    final.resize(n + 1);
  }
  resolved = NarrowFileName(final.c_str());
  return !resolved.empty();
}

// Files are opened by their paths on Windows: no directory is kept open. A directory entered
// is resolved by its path just before it is listed by that path.
bool ReadDirectoryEntries(const std::string& path, DirectoryListing& listing, OpenDirectory*,
                          EnterRequest* request) {
  const std::wstring directory = ExtendedPath(path, /*directory=*/true);
  if (directory.empty()) return false;
  // Found by its path, as its entries will be: the listing gives no serial numbers to check.
  if (request) {
    std::string resolved;
    // Where the system cannot name the directory's final path (Wine, past the classic path
    // limit), a subdirectory its parent's listing saw as no link is known by its joined path.
    if (!ResolveDirectory(path, resolved)) {
      if (request->expected.empty()) return false;
      resolved = request->expected;
    }
    const auto [at, fresh] = request->entered.insert(std::move(resolved));
    if (!fresh) return false;
    request->resolved = *at;
  }

  WIN32_FIND_DATAW found;
  FindHandle search(FindFirstFileExW((directory + L'*').c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0));
  if (!search.valid()) return false;

  do {
    const std::wstring_view name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    // Links and junctions to directories carry the directory attribute too.
    const DWORD attributes = found.dwFileAttributes;
    const bool isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    constexpr DWORD kNotRegular =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    const bool isRegularFile = (attributes & kNotRegular) == 0;
    const std::string narrow = NarrowFileName(found.cFileName);
    const bool isLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (!narrow.empty()) listing.Add(narrow, isDirectory, isRegularFile, isLink);
  } while (FindNextFileW(search.get(), &found));
  return GetLastError() == ERROR_NO_MORE_FILES;
}
