#include "search/extended_path-win32.h"

#include <windows.h>

namespace {

UINT FileNameCodePage() { return AreFileApisANSI() ? CP_ACP : CP_OEMCP; }

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

std::wstring WidenFileName(const std::string& text) {
  if (text.empty()) return {};
  const UINT cp = FileNameCodePage();
  const int n = MultiByteToWideChar(cp, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(cp, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::string NarrowFileName(const wchar_t* text) {
  const UINT cp = FileNameCodePage();
  const int n = WideCharToMultiByte(cp, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string narrow(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(cp, 0, text, -1, narrow.data(), n, nullptr, nullptr);
  narrow.pop_back();  // the terminating NUL
  return narrow;
}

std::wstring ExtendedPath(const std::string& path, bool directory) {
  std::wstring wide = WidenFileName(path);
  if (wide.empty()) return {};
  if (wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\\\.\\", 0) == 0) {
    if (directory && !IsSeparator(wide.back())) wide += L'\\';
    return wide;
  }
  // Resolved with a placeholder entry below it, so that the last name is never read as a
  // device and a root keeps its separator; the placeholder is then dropped.
  if (!IsSeparator(wide.back())) wide += L'\\';
  wide += L'x';
  const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return {};
  std::wstring full(size, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return {};
  full.resize(length);
  if (full.size() < 2 || full.substr(full.size() - 2) != L"\\x") return {};
  full.pop_back();  // the placeholder; the separator before it stays for a directory
  if (!directory) {
    if (full.size() < 2) return {};
    full.pop_back();
  }
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}
