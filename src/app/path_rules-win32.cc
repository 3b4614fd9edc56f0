// Windows spelling of command lines and paths: options begin with '/', '\' and '/' both
// separate, and a file spec may begin with a drive ("C:"). Paths are bytes of the ANSI code
// page, whose two-byte characters are read whole.
#include "app/path_rules-win32.h"

#include <windows.h>

#include <cstdlib>  // brings in the runtime's _mingw.h, which turns _CRT_glob into _dowildcard

// The runtime would otherwise expand wildcards in the arguments before main sees them; the
// file spec must reach the walk as the user typed it.
int _CRT_glob = 0;

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Length of the drive prefix of `path`: 2 for "X:...", else 0. A lead byte in the first place
// makes the colon its trail byte, not a drive's.
std::size_t DriveLength(std::string_view path, LeadByteTest isLeadByte) {
  return path.size() >= 2 && path[1] == ':' && !isLeadByte(static_cast<unsigned char>(path[0]))
             ? 2 : 0;
}

// Calls `visit(i)` for the index of each character of `text` from `from` on: a lead byte and
// its trail byte are one character, visited at the lead byte.
template <typename Visit>
void ForEachCharacter(std::string_view text, std::size_t from, LeadByteTest isLeadByte,
                      Visit visit) {
  for (std::size_t i = from; i < text.size(); ++i) {
    visit(i);
    if (isLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ++i;
  }
}

// Where the run of separators that ends `text` begins (text.size() when it ends in none).
std::size_t TrailingSeparatorsStart(std::string_view text, LeadByteTest isLeadByte) {
  std::size_t start = text.size();
  ForEachCharacter(text, 0, isLeadByte, [&](std::size_t i) {
    if (!IsSeparator(text[i]))
      start = text.size();
    else if (start == text.size())
      start = i;
  });
  return start;
}

}  // namespace

bool IsAnsiLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != 0; }

bool IsPathLeadByte(unsigned char byte) { return IsAnsiLeadByte(byte); }

FileSpecParts SplitFileSpecIn(std::string_view fileSpec, LeadByteTest isLeadByte) {
  std::size_t nameStart = DriveLength(fileSpec, isLeadByte);
  std::size_t dot = std::string_view::npos;
  ForEachCharacter(fileSpec, nameStart, isLeadByte, [&](std::size_t i) {
    if (IsSeparator(fileSpec[i])) {
      nameStart = i + 1;
      dot = std::string_view::npos;
    } else if (fileSpec[i] == '.') {
      dot = i;
    }
  });
  return SplitFileSpecAt(fileSpec, nameStart, dot);
}

std::string RootOfIn(std::string_view directory, LeadByteTest isLeadByte) {
  const std::size_t driveLength = DriveLength(directory, isLeadByte);
  const std::string drive(directory.substr(0, driveLength));
  const std::string_view rest = directory.substr(driveLength);
  if (drive.empty() && rest.empty()) return ".";
  // "C:" alone is taken as the root of C:, like "C:\".
  const std::size_t end = TrailingSeparatorsStart(rest, isLeadByte);
  if (end == 0) return drive + '\\';
  return drive + std::string(rest.substr(0, end));
}

std::string JoinPathIn(std::string_view directory, std::string_view name,
                       LeadByteTest isLeadByte) {
  std::string path(directory);
  const bool bareDrive = path.size() == 2 && DriveLength(path, isLeadByte) == 2;
  if (!bareDrive && TrailingSeparatorsStart(path, isLeadByte) == path.size()) path += '\\';
  path += name;
  return path;
}

bool IsOption(std::string_view arg) { return !arg.empty() && arg[0] == '/'; }

FileSpecParts SplitFileSpec(std::string_view fileSpec) {
  return SplitFileSpecIn(fileSpec, IsAnsiLeadByte);
}

std::string RootOf(std::string_view directory) { return RootOfIn(directory, IsAnsiLeadByte); }

std::string JoinPath(std::string_view directory, std::string_view name) {
  return JoinPathIn(directory, name, IsAnsiLeadByte);
}
