// Reading the command line: `qz <file(s)> <search-text> [/s]`.
#ifndef QZ_APP_COMMAND_LINE_H_
#define QZ_APP_COMMAND_LINE_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kUsageLine = "Usage is: qz.exe <file(s)> <search-text> [/s]\n";

// A file spec split at its last path separator and its last dot after that.
struct FileSpecParts {
  std::string directory;  // up to and including the last separator; empty when there is none
  std::string name;       // between the directory and the extension
  std::string extension;  // from the last dot after the directory, the dot included
};

// What the command line asks for.
struct SearchRequest {
  std::string root;         // the directory the walk starts in, no trailing separator
  std::string namePattern;  // wildcard pattern for file names in each directory
  std::string searchText;
  bool recursive = false;
};

// Whether `arg` is an option: it begins with '/' and holds no other '/', so that an absolute
// path such as /home/me/*.txt stays a file spec.
bool IsOption(std::string_view arg);

// Splits a file spec; '/' is the only separator.
FileSpecParts SplitFileSpec(std::string_view spec);

// The walk's root for a directory part: without its trailing separators; "." when it is
// empty; "/" when it is nothing but separators.
std::string RootOf(std::string_view directory);

// Joins a directory and an entry name with one '/' ("./a.txt", "/a.txt", "docs/a.txt").
std::string JoinPath(std::string_view directory, std::string_view name);

// Reads the user's arguments (the program name excluded). Every option turns recursion on when
// its second character is a lower-case 's'; options before the file spec are skipped; the
// argument after the file spec is the search text, whatever it begins with, and later ones are
// ignored. Returns nothing when no file spec or no search text is left: the caller shows the
// usage line.
std::optional<SearchRequest> ParseCommandLine(const std::vector<std::string_view>& args);

#endif  // QZ_APP_COMMAND_LINE_H_
