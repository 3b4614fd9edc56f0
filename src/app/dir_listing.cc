#include "app/dir_listing.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

#include "console/ascii.h"

namespace {

// Names are packed into blocks of this size; a longer name gets a block of its own.
constexpr std::size_t kNameBlock = std::size_t{64} << 10;

// The first eight bytes of `name` folded (in a code page of two-byte characters, those that are
// characters of their own), the first in the highest byte, zeros past its end: keys that
// differ order their names as NameOrderLess does (no name holds a NUL, so a name that ends
// sooner comes first, as there); equal keys leave it to NameOrderLess.
std::uint64_t OrderKey(std::string_view name, const LeadBytes& leadBytes) {
  std::uint64_t key = 0;
  bool trail = false;  // byte i is the trail byte of a character begun at i - 1
  for (std::size_t i = 0; i < sizeof key; ++i) {
    key <<= 8;
    if (i >= name.size()) continue;
    key |= trail ? static_cast<unsigned char>(name[i]) : FoldAscii(name[i]);
    trail = !trail && leadBytes.IsLead(name[i]);
  }
  return key;
}

// Sorts the entries by NameOrderLess. The sort compares keys held side by side with the
// entry's place, which is quicker than comparing names scattered over the store; the entries
// are then put in that order in place.
void SortEntries(std::vector<DirectoryEntry>& entries, const LeadBytes& leadBytes) {
  struct Keyed {
    std::uint64_t key;
    std::size_t index;
  };
  std::vector<Keyed> order;
  order.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i)
    order.push_back({OrderKey({entries[i].name, entries[i].nameSize}, leadBytes), i});
  std::sort(order.begin(), order.end(), [&](const Keyed& a, const Keyed& b) {
    if (a.key != b.key) return a.key < b.key;
    const DirectoryEntry& x = entries[a.index];
    const DirectoryEntry& y = entries[b.index];
    return NameOrderLessIn({x.name, x.nameSize}, {y.name, y.nameSize}, leadBytes);
  });
  // Place i takes the entry at order[i].index: each cycle of the permutation is walked once,
  // and a place done is marked by pointing at itself.
  for (std::size_t i = 0; i < order.size(); ++i) {
    if (order[i].index == i) continue;
    const DirectoryEntry first = entries[i];
    std::size_t place = i;
    for (;;) {
      const std::size_t from = order[place].index;
      order[place].index = place;
      if (from == i) {
        entries[place] = first;
        break;
      }
      entries[place] = entries[from];
      place = from;
    }
  }
}

}  // namespace

bool NameOrderLess(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  // Names in one directory often share a long start; bytes that are equal fold alike, so the
  // equal start is passed a word at a time.
  std::size_t i = 0;
  for (; i + sizeof(std::uint64_t) <= n; i += sizeof(std::uint64_t)) {
    std::uint64_t x, y;
    std::memcpy(&x, a.data() + i, sizeof x);
    std::memcpy(&y, b.data() + i, sizeof y);
    if (x != y) break;
  }
  for (; i < n; ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return FoldAscii(a[i]) < FoldAscii(b[i]);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

bool NameOrderLessIn(std::string_view a, std::string_view b, const LeadBytes& leadBytes) {
  if (leadBytes.empty()) return NameOrderLess(a, b);
  // Byte by byte from the start, as a byte's part in its character depends on all before it.
  // The names go in step: bytes that fold alike are both lead bytes or neither, since ASCII
  // bytes are never lead bytes and folding changes ASCII letters only.
  const std::size_t n = std::min(a.size(), b.size());
  bool trail = false;  // byte i is the trail byte of a character begun at i - 1
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char x = trail ? static_cast<unsigned char>(a[i]) : FoldAscii(a[i]);
    const unsigned char y = trail ? static_cast<unsigned char>(b[i]) : FoldAscii(b[i]);
    if (x != y) return x < y;
    trail = !trail && leadBytes.IsLead(a[i]);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

char* DirectoryListing::Store(std::string_view name, std::size_t extra) {
  const std::size_t need = name.size() + 1 + extra;
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

std::uint64_t DirectoryListing::Serial(std::size_t i) const {
  const DirectoryEntry& entry = entries[i];
  if (!entry.isDirectory || entry.isLink) return 0;
  std::uint64_t serial;
  std::memcpy(&serial, entry.name + entry.nameSize + 1, sizeof serial);
  return serial;
}

void DirectoryListing::Add(std::string_view name, bool isDirectory, bool isRegularFile,
                           bool isLink, std::uint64_t serial) {
  if (name.size() > UINT32_MAX) throw std::bad_alloc();
  // Room for the entry first, so that a failure below leaves no stray name.
  if (entries.size() == entries.capacity()) entries.reserve(std::max<std::size_t>(64, 2 * entries.size()));
  // Only a directory that is no link keeps its serial number, after its name: the walk
  // checks it when it enters the directory, and a listing of files costs nothing more.
  const bool keepsSerial = isDirectory && !isLink;
  char* const stored = Store(name, keepsSerial ? sizeof serial : 0);
  if (keepsSerial) std::memcpy(stored + name.size() + 1, &serial, sizeof serial);
  entries.push_back({stored, static_cast<std::uint32_t>(name.size()), isDirectory,
                     isRegularFile, isLink});
}

DirectoryListing DirectoryListing::Directories() const {
  DirectoryListing kept;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const DirectoryEntry& entry = entries[i];
    if (entry.isDirectory)
      kept.Add({entry.name, entry.nameSize}, true, entry.isRegularFile, entry.isLink, Serial(i));
  }
  kept.entries.shrink_to_fit();
  return kept;
}

void DirectoryListing::Clear() {
  entries.clear();
  blocks_.clear();
  blockSize_ = used_ = 0;
}

bool ListDirectory(const std::string& path, DirectoryListing& listing, OpenDirectory* keepOpen,
                   const LeadBytes& leadBytes) {
  listing.Clear();
  if (!ReadDirectoryEntries(path, listing, keepOpen)) return false;
  SortEntries(listing.entries, leadBytes);
  return true;
}

bool ListDirectoryOnce(const std::string& path, EnterRequest& request,
                       DirectoryListing& listing, OpenDirectory* keepOpen,
                       const LeadBytes& leadBytes) {
  listing.Clear();
  if (!ReadDirectoryEntries(path, listing, keepOpen, &request)) return false;
  SortEntries(listing.entries, leadBytes);
  return true;
}
