// Reading a file on Windows.
//
// The file is opened with the wide functions on a "\\?\" full path: the ANSI ones stop at 260
// characters, and would open the device behind a name such as CON, NUL or COM1.
#include "search/input_file.h"
#include "search/extended_path-win32.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

HANDLE AsHandle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// The most one ReadFile call is asked for.
constexpr DWORD kReadChunk = 1u << 30;

}  // namespace

OpenResult InputFile::Open(const std::string& path, bool, std::uint64_t& length) {
  // No look before the open is needed: with the extended path, a name never reaches a device.
  Close();
  const std::wstring extended = ExtendedPath(path, /*directory=*/false);
  if (extended.empty()) return OpenResult::NotOpened;

  // Others may read the file meanwhile, but not write it.
  const HANDLE file = CreateFileW(extended.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return OpenResult::NotOpened;
  handle_ = reinterpret_cast<std::intptr_t>(file);

  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    Close();
    return OpenResult::NotOpened;
  }
  if (!GetFileInformationByHandle(file, &info)) {
    Close();
    return OpenResult::Failed;
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    Close();
    return OpenResult::NotOpened;
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || size.QuadPart < 0) {
    Close();
    return OpenResult::Failed;
  }
  length = static_cast<std::uint64_t>(size.QuadPart);
  return OpenResult::Opened;
}

// The listing keeps no directory open on Windows: there is never one to close.
void CloseDirectoryHandle(std::intptr_t) {}

std::int64_t InputFile::Read(char* into, std::size_t size) {
  if (handle_ == -1) return -1;
  const DWORD ask = size < kReadChunk ? static_cast<DWORD>(size) : kReadChunk;
  DWORD got = 0;
  if (!ReadFile(AsHandle(handle_), into, ask, &got, nullptr)) return -1;
  return got;
}

// Nothing opens files ahead on Windows; a handle taken over is read from where it stands.
void InputFile::Adopt(std::intptr_t handle, std::uint64_t from) {
  Close();
  handle_ = handle;
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(from);
  SetFilePointerEx(AsHandle(handle_), to, nullptr, FILE_BEGIN);
}

// Windows cannot tell whether a read would wait for the disk.
std::int64_t InputFile::ReadIfCached(char* into, std::size_t size) { return Read(into, size); }

const char* InputFile::Map(std::uint64_t length) {
  if (handle_ == -1 || mapping_ || length == 0 || length > SIZE_MAX) return nullptr;
  const HANDLE section =
      CreateFileMappingW(AsHandle(handle_), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!section) return nullptr;
  const void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(length));
  CloseHandle(section);  // the view keeps the section
  if (!view) return nullptr;
  mapping_ = static_cast<const char*>(view);
  mappedLength_ = length;
  return mapping_;
}

// Nobody can write the file while it is open here (see Open), so it cannot shrink.
std::uint64_t InputFile::MappedIntact() const { return mappedLength_; }

// A mapped view's pages leave the working set as the system needs them.
void InputFile::ReleaseMapped(const char*, std::size_t) {}

void InputFile::Close() {
  if (mapping_) {
    UnmapViewOfFile(mapping_);
    mapping_ = nullptr;
    mappedLength_ = 0;
  }
  if (handle_ == -1) return;
  CloseHandle(AsHandle(handle_));
  handle_ = -1;
}
