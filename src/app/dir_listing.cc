#include "app/dir_listing.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "search/ascii.h"

namespace {

// Names are packed into blocks of this size; a longer name gets a block of its own.
constexpr std::size_t kNameBlock = std::size_t{64} << 10;

}  // namespace

bool NameOrderLess(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return FoldAscii(a[i]) < FoldAscii(b[i]);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

char* DirectoryListing::Store(std::string_view name) {
  const std::size_t need = name.size() + 1;
  if (blocks_.empty() || blockSize_ - used_ < need) {
    const std::size_t size = std::max(kNameBlock, need);
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
    blockSize_ = size;
    used_ = 0;
  }
  char* const at = blocks_.back().get() + used_;
  std::memcpy(at, name.data(), name.size());
  at[name.size()] = '\0';
  used_ += need;
  return at;
}

void DirectoryListing::Add(std::string_view name, bool isDirectory, bool isRegularFile,
                           bool isLink) {
  if (name.size() > UINT32_MAX) throw std::bad_alloc();
  // Room for the entry first, so that a failure below leaves no stray name.
  if (entries.size() == entries.capacity()) entries.reserve(std::max<std::size_t>(64, 2 * entries.size()));
  const char* const stored = Store(name);
  entries.push_back({stored, static_cast<std::uint32_t>(name.size()), isDirectory,
                     isRegularFile, isLink});
}

void DirectoryListing::KeepDirectories() {
  DirectoryListing kept;
  for (const DirectoryEntry& entry : entries) {
    if (entry.isDirectory)
      kept.Add({entry.name, entry.nameSize}, true, entry.isRegularFile, entry.isLink);
  }
  kept.entries.shrink_to_fit();
  *this = std::move(kept);
}

void DirectoryListing::Clear() {
  entries.clear();
  blocks_.clear();
  blockSize_ = used_ = 0;
}

bool ListDirectory(const std::string& path, DirectoryListing& listing) {
  listing.Clear();
  if (!ReadDirectoryEntries(path, listing)) return false;
  std::sort(listing.entries.begin(), listing.entries.end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) {
              return NameOrderLess({a.name, a.nameSize}, {b.name, b.nameSize});
            });
  return true;
}
