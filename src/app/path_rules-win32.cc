// Windows spelling of command lines and paths: options begin with '/', '\' and '/' both
// separate, and a file spec may begin with a drive ("C:").
#include "app/path_rules.h"

#include <cstdlib>  // brings in the runtime's _mingw.h, which turns _CRT_glob into _dowildcard

// The runtime would otherwise expand wildcards in the arguments before main sees them; the
// file spec must reach the walk as the user typed it.
int _CRT_glob = 0;

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Length of the drive prefix of `path`: 2 for "X:...", else 0.
std::size_t DriveLength(std::string_view path) {
  return path.size() >= 2 && path[1] == ':' ? 2 : 0;
}

}  // namespace

bool IsOption(std::string_view arg) { return !arg.empty() && arg[0] == '/'; }

FileSpecParts SplitFileSpec(std::string_view fileSpec) {
  std::size_t nameStart = DriveLength(fileSpec);
  for (std::size_t i = nameStart; i < fileSpec.size(); ++i) {
    if (IsSeparator(fileSpec[i])) nameStart = i + 1;
  }
  return SplitFileSpecAt(fileSpec, nameStart);
}

std::string RootOf(std::string_view directory) {
  const std::size_t driveLength = DriveLength(directory);
  const std::string_view drive = directory.substr(0, driveLength);
  std::string_view rest = directory.substr(driveLength);
  if (drive.empty() && rest.empty()) return ".";
  // "C:" alone is taken as the root of C:, like "C:\".
  if (rest.empty()) return std::string(drive) + '\\';
  std::size_t end = rest.size();
  while (end > 0 && IsSeparator(rest[end - 1])) --end;
  if (end == 0) return std::string(drive) + '\\';
  return std::string(drive) + std::string(rest.substr(0, end));
}

std::string JoinPath(std::string_view directory, std::string_view name) {
  std::string path(directory);
  const bool bareDrive = path.size() == 2 && path[1] == ':';
  if (!bareDrive && (path.empty() || !IsSeparator(path.back()))) path += '\\';
  path += name;
  return path;
}
