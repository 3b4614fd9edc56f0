#include "app/path_rules.h"

bool IsOption(std::string_view arg) {
  return !arg.empty() && arg[0] == '/' && arg.find('/', 1) == std::string_view::npos;
}

FileSpecParts SplitFileSpec(std::string_view fileSpec) {
  const std::size_t slash = fileSpec.rfind('/');
  const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  std::size_t dot = fileSpec.rfind('.');
  if (dot != std::string_view::npos && dot < nameStart) dot = std::string_view::npos;
  return SplitFileSpecAt(fileSpec, nameStart, dot);
}

std::string RootOf(std::string_view directory) {
  if (directory.empty()) return ".";
  const std::size_t last = directory.find_last_not_of('/');
  if (last == std::string_view::npos) return "/";
  return std::string(directory.substr(0, last + 1));
}

std::string JoinPath(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

bool IsPathLeadByte(unsigned char) { return false; }
