#include "app/command_line.h"

bool IsOption(std::string_view arg) {
  return !arg.empty() && arg[0] == '/' && arg.find('/', 1) == std::string_view::npos;
}

FileSpecParts SplitFileSpec(std::string_view spec) {
  FileSpecParts parts;
  const std::size_t slash = spec.rfind('/');
  const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  parts.directory = spec.substr(0, nameStart);
  const std::string_view rest = spec.substr(nameStart);
  const std::size_t dot = rest.rfind('.');
  parts.name = rest.substr(0, dot);
  if (dot != std::string_view::npos) parts.extension = rest.substr(dot);
  return parts;
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

std::optional<SearchRequest> ParseCommandLine(const std::vector<std::string_view>& args) {
  SearchRequest request;
  std::size_t spec = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (!IsOption(args[i])) continue;
    if (args[i].size() > 1 && args[i][1] == 's') request.recursive = true;
    if (i == spec) ++spec;
  }
  if (spec + 1 >= args.size()) return std::nullopt;

  const FileSpecParts parts = SplitFileSpec(args[spec]);
  request.root = RootOf(parts.directory);
  request.namePattern = parts.name + parts.extension;
  request.searchText = args[spec + 1];
  return request;
}
