#include "app/command_line.h"

#include "app/path_rules.h"

std::optional<SearchRequest> ParseCommandLine(const std::vector<std::string_view>& args) {
  SearchRequest request;
  std::size_t fileSpec = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (!IsOption(args[i])) continue;
    if (args[i].size() > 1 && args[i][1] == 's') request.settings.recursive = true;
    if (i == fileSpec) ++fileSpec;
  }
  if (fileSpec + 1 >= args.size()) return std::nullopt;

  const FileSpecParts parts = SplitFileSpec(args[fileSpec]);
  request.root = RootOf(parts.directory);
  request.settings.namePattern = parts.name + parts.extension;
  request.settings.searchText = args[fileSpec + 1];
  return request;
}
