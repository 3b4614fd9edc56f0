// Platform seam: how this platform's command lines and paths are spelled. One implementation
// per platform.
#ifndef QZ_APP_PATH_RULES_H_
#define QZ_APP_PATH_RULES_H_

#include <string>
#include <string_view>

// A file spec split at its last path separator and its last dot after that.
struct FileSpecParts {
  std::string directory;  // any drive, then up to and including the last separator
  std::string name;       // between the directory and the extension
  std::string extension;  // from the last dot after the directory, the dot included

  bool operator==(const FileSpecParts&) const = default;
};

// Whether the command-line argument `arg` is an option rather than a file spec or a text.
// POSIX: it begins with '/' and holds no other '/', so that /home/me/*.txt is a file spec.
bool IsOption(std::string_view arg);

// Splits a file spec. POSIX: '/' is the only separator and there is no drive.
FileSpecParts SplitFileSpec(std::string_view fileSpec);

// The part every platform shares: splits `fileSpec`, whose file name begins at `nameStart` and
// whose extension begins at `dot` (npos: it has none), into the directory before the name, the
// name, and the extension.
FileSpecParts SplitFileSpecAt(std::string_view fileSpec, std::size_t nameStart, std::size_t dot);

// The directory the walk starts in, for the directory part of a file spec: without trailing
// separators, naming the current directory when the part is empty. POSIX: "." for an empty
// part, "/" for one that is nothing but separators.
std::string RootOf(std::string_view directory);

// Joins a directory and an entry name with one separator (POSIX: "./a.txt", "/a.txt",
// "docs/a.txt").
std::string JoinPath(std::string_view directory, std::string_view name);

// Whether `byte` is the lead byte of a two-byte character in the code page the paths are
// spelled in. A lead byte takes the byte after it along, so a trail byte that happens to be
// 0x5C ('\\') or 0x2F ('/') or 0x2E ('.') is never taken for a separator or a dot.
using LeadByteTest = bool (*)(unsigned char byte);

// The lead-byte test of this platform's paths. POSIX: none is (names are bytes, and the
// multi-byte characters of UTF-8 never hold an ASCII byte).
bool IsPathLeadByte(unsigned char byte);

#endif  // QZ_APP_PATH_RULES_H_
