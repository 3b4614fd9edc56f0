#include "app/path_rules.h"

FileSpecParts SplitFileSpecAt(std::string_view fileSpec, std::size_t nameStart, std::size_t dot) {
  FileSpecParts parts;
  const std::size_t nameEnd = dot == std::string_view::npos ? fileSpec.size() : dot;
  parts.directory = fileSpec.substr(0, nameStart);
  parts.name = fileSpec.substr(nameStart, nameEnd - nameStart);
  parts.extension = fileSpec.substr(nameEnd);
  return parts;
}
