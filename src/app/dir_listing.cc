#include "app/dir_listing.h"

#include <algorithm>

#include "search/ascii.h"

bool NameOrderLess(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return FoldAscii(a[i]) < FoldAscii(b[i]);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

bool ListDirectory(const std::string& path, DirectoryListing& listing) {
  listing.entries.clear();
  if (!ReadDirectoryEntries(path, listing)) return false;
  std::sort(listing.entries.begin(), listing.entries.end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return NameOrderLess(a.name, b.name); });
  return true;
}
