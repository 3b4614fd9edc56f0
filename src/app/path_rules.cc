#include "app/path_rules.h"

FileSpecParts SplitFileSpecAt(std::string_view fileSpec, std::size_t nameStart) {
  FileSpecParts parts;
  parts.directory = fileSpec.substr(0, nameStart);
  const std::string_view rest = fileSpec.substr(nameStart);
  const std::size_t dot = rest.rfind('.');
  parts.name = rest.substr(0, dot);
  if (dot != std::string_view::npos) parts.extension = rest.substr(dot);
  return parts;
}
