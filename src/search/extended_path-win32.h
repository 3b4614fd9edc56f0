// Windows paths for the wide file functions, shared by the directory listing and file
// reading. Windows builds only.
#ifndef QZ_SEARCH_EXTENDED_PATH_WIN32_H_
#define QZ_SEARCH_EXTENDED_PATH_WIN32_H_

#include <string>

// `text` (in the code page of the ANSI file functions) as UTF-16, and back.
std::wstring WidenFileName(const std::string& text);
std::string NarrowFileName(const wchar_t* text);

// The extended ("\\?\") full path of `path`: with it the wide functions take paths of any
// length and never read a last component such as CON, NUL or COM1 as a device. A directory's
// path ends in a separator, a file's does not. A path already in device or extended form is
// taken as it stands. Empty when no full path can be formed.
std::wstring ExtendedPath(const std::string& path, bool directory);

#endif  // QZ_SEARCH_EXTENDED_PATH_WIN32_H_
