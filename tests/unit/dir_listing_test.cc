#include "app/dir_listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "app/path_rules.h"
#include "support/temp_tree.h"

namespace {

TEST(NameOrder, FoldsLettersThenBreaksTiesByBytes) {
  std::vector<std::string> names = {"b.txt", "A.txt", "a.txt", "_x", "B.txt", "a"};
  std::sort(names.begin(), names.end(), NameOrderLess);
  // '_' (0x5F) comes before every letter once letters are folded to lower case.
  EXPECT_EQ(names, (std::vector<std::string>{"_x", "a", "A.txt", "a.txt", "B.txt", "b.txt"}));
}

// Long names that share a start and differ only in case, or first differ past a word of
// bytes, order as the short ones do.
TEST(NameOrder, LongSharedStartsOrderByTheirFirstFoldedDifference) {
  const std::string start = "0123456789abcdefghij";
  std::vector<std::string> names = {start + "b",        start + "A",        "0123456789ABCDEFGHIJa",
                                    start,              start + "a",        "0123456789abcdefghiJ",
                                    start + "_",        start + "a" + start};
  std::sort(names.begin(), names.end(), NameOrderLess);
  EXPECT_EQ(names, (std::vector<std::string>{"0123456789abcdefghiJ", start, start + "_",
                                             "0123456789ABCDEFGHIJa", start + "A", start + "a",
                                             start + "a" + start, start + "b"}));
}

// Code page 932 (Shift JIS): lead bytes 0x81-0x9F and 0xE0-0xFC.
LeadBytes Cp932() {
  LeadBytes lead;
  lead.AddRange(0x81, 0x9F);
  lead.AddRange(0xE0, 0xFC);
  return lead;
}

// Katakana A is 83 41, SO 83 5C, DI 83 61, small YA 83 83: a trail byte that is a letter's
// byte is not that letter, and is never folded. A lone letter after a character still is.
TEST(NameOrder, ATwoByteCodePageNeverFoldsATrailByte) {
  const LeadBytes lead = Cp932();
  const std::string a = "\x83\x41", so = "\x83\x5C", di = "\x83\x61", ya = "\x83\x83";
  std::vector<std::string> names = {ya + "a", so + "\x83\x74\x83\x67.txt", di + ".txt", "B.txt",
                                    a + ".txt", ya + "A", "a.txt"};
  std::sort(names.begin(), names.end(), [&](const std::string& x, const std::string& y) {
    return NameOrderLessIn(x, y, lead);
  });
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "B.txt", a + ".txt",
                                             so + "\x83\x74\x83\x67.txt", di + ".txt", ya + "A",
                                             ya + "a"}));
  // With no lead bytes, the order of one-byte code pages: A folds, and ties DI.
  EXPECT_TRUE(NameOrderLessIn(so, a, LeadBytes()));
  EXPECT_FALSE(NameOrderLessIn(so, a, lead));

  // A listing sorts by its keys first: names that differ within their first eight bytes, and
  // names that differ only past them.
  qz_test::TempTree tree;
  const std::vector<std::string> sorted = {"ax.txt", a + "x.txt", a + "xxxxxxA", a + "xxxxxxb",
                                           "\x83\x5F" "x.txt"};
  for (const std::string& name : sorted) tree.File(name, "");
  DirectoryListing listing;
  ASSERT_TRUE(ListDirectory(tree.path(), listing, nullptr, lead));
  ASSERT_EQ(listing.entries.size(), sorted.size());
  for (std::size_t i = 0; i < sorted.size(); ++i) EXPECT_EQ(listing.Name(i), sorted[i]) << i;
}

// A listing comes in name order, each entry with its own kind, whatever order the names
// were made in.
TEST(NameOrder, AListingComesSortedWithEachEntryKeepingItsKind) {
  qz_test::TempTree tree;
  const std::string letters = "aAbB_.0";
  std::set<std::string> folded;  // names that differ in case alone would be one on Windows
  std::map<std::string, bool> made;  // name: made as a directory
  std::uint32_t seed = 7;
  while (made.size() < 150) {
    std::string name = "shared_";
    for (int k = 0, n = 1 + static_cast<int>(seed % 9); k < n; ++k) {
      seed = seed * 1103515245u + 12345u;
      name += letters[(seed >> 16) % letters.size()];
    }
    if (name.back() == '.') continue;  // Windows drops a trailing dot
    std::string key = name;
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!folded.insert(key).second) continue;
    const bool directory = made.size() % 5 == 0;
    if (directory)
      std::filesystem::create_directory(tree.Path(name));
    else
      tree.File(name, "");
    made[name] = directory;
  }
  DirectoryListing listing;
  ASSERT_TRUE(ListDirectory(tree.path(), listing));
  ASSERT_EQ(listing.entries.size(), made.size());
  std::vector<std::string> names;
  for (const auto& [name, directory] : made) names.push_back(name);
  std::sort(names.begin(), names.end(), NameOrderLess);
  for (std::size_t i = 0; i < names.size(); ++i) {
    ASSERT_EQ(listing.Name(i), names[i]) << "at " << i;
    EXPECT_EQ(listing.entries[i].isDirectory, made[names[i]]) << names[i];
    EXPECT_EQ(listing.entries[i].isRegularFile, !made[names[i]]) << names[i];
  }
}

// The resolved path the walk keys entered directories by is the same by every path that leads
// to a directory, and is the parent's joined with the name for a subdirectory that is no link;
// a file or a missing path has none. The listing tells links from directories.
TEST(ResolvedDirectory, IsTheSameByAnyPathAndJoinsForPlainSubdirectories) {
  qz_test::TempTree tree;
  tree.File("d/x.txt", "x");
  tree.File("d/Sub/y.txt", "y");
  DirectoryListing listing;
  ASSERT_TRUE(ListDirectory(tree.Path("d"), listing));
  ASSERT_EQ(listing.entries.size(), 2u);
  EXPECT_EQ(listing.Name(0), "Sub");
  EXPECT_TRUE(listing.entries[0].isDirectory);
  EXPECT_FALSE(listing.entries[0].isLink);
  EXPECT_TRUE(listing.entries[1].isRegularFile);

  std::string resolved;
  ASSERT_TRUE(ResolveDirectory(tree.Path("d"), resolved));
  std::string sub;
  ASSERT_TRUE(ResolveDirectory(tree.Path("d/Sub"), sub));
  EXPECT_NE(sub, resolved);
  EXPECT_EQ(sub, JoinPath(resolved, "Sub"));
  EXPECT_FALSE(ResolveDirectory(tree.Path("d/x.txt"), sub));
  EXPECT_FALSE(ResolveDirectory(tree.Path("missing"), sub));

  std::error_code noLinks;
  std::filesystem::create_directory_symlink(tree.Path("d"), tree.Path("link"), noLinks);
  if (noLinks) return;  // a file system or platform without links
  std::string viaLink;
  ASSERT_TRUE(ResolveDirectory(tree.Path("link"), viaLink));
  EXPECT_EQ(viaLink, resolved);
  ASSERT_TRUE(ResolveDirectory(tree.Path("link") + "/../d/./Sub", viaLink));
  EXPECT_EQ(viaLink, sub);
  ASSERT_TRUE(ListDirectory(tree.path(), listing));
  ASSERT_EQ(listing.entries.size(), 2u);
  EXPECT_EQ(listing.Name(1), "link");
  EXPECT_TRUE(listing.entries[1].isDirectory);
  EXPECT_TRUE(listing.entries[1].isLink);
}

#ifndef _WIN32
// A directory is known by its whole path however long it is: paths over 256 and 512 bytes are
// not cut, so that deep directories that share the start of their paths stay apart. (Where
// Windows cannot name a directory's final path past the classic path limit, as under Wine, a
// root that long is not entered at all, and a subdirectory is known by its joined path: see
// dir_listing-win32.cc.)
TEST(EnteredDirectory, IsKnownByItsWholePathHoweverLong) {
  qz_test::TempTree tree;
  const std::string name(200, 'n');
  tree.File(name + "/" + name + "/" + name + "/x.txt", "x");
  std::string path = tree.path();
  for (int depth = 1; depth <= 3; ++depth) {
    path += "/" + name;
    EnteredDirectories entered;
    DirectoryListing listing;
    EnterRequest request{entered, {}};
    ASSERT_TRUE(ListDirectoryOnce(path, request, listing)) << depth;
    std::string resolved;
    ASSERT_TRUE(ResolveDirectory(path, resolved));
    EXPECT_EQ(request.resolved, resolved) << depth;
    EXPECT_GT(resolved.size(), 200u * depth);
  }
}
#endif

// A walk enters each directory once, whatever path leads to it, and knows a subdirectory by
// what is there when it enters it: the serial number its parent's listing gave it, or else its
// resolved path. One swapped for a link to a directory already entered is not listed again;
// one made anew under the name is entered under the path expected.
TEST(EnteredDirectory, IsListedOnceAndKnownByWhatIsThereWhenEntered) {
  qz_test::TempTree tree;
  tree.File("d/x.txt", "x");
  tree.File("d/Sub/y.txt", "y");
  EnteredDirectories entered;
  DirectoryListing listing;
  EnterRequest top{entered, {}};
  ASSERT_TRUE(ListDirectoryOnce(tree.Path("d"), top, listing));
  std::string resolved;
  ASSERT_TRUE(ResolveDirectory(tree.Path("d"), resolved));
  EXPECT_EQ(top.resolved, resolved);
  ASSERT_EQ(listing.entries.size(), 2u);
  EXPECT_EQ(listing.Serial(1), 0u);  // a file keeps none
  const std::uint64_t serial = listing.Serial(0);
#ifndef _WIN32
  struct stat sub;
  ASSERT_EQ(stat(tree.Path("d/Sub").c_str(), &sub), 0);
  EXPECT_EQ(serial, static_cast<std::uint64_t>(sub.st_ino));
  listing.KeepDirectories();
  EXPECT_EQ(listing.Serial(0), serial);
#endif
  EnterRequest again{entered, {}};
  EXPECT_FALSE(ListDirectoryOnce(tree.Path("d/Sub/.."), again, listing));

  const std::string expected = JoinPath(resolved, "Sub");
  std::error_code noLinks;
  std::filesystem::rename(tree.Path("d/Sub"), tree.Path("d/Old"));
  std::filesystem::create_directory_symlink(tree.Path("d"), tree.Path("d/Sub"), noLinks);
  if (noLinks) return;  // a file system or platform without links
  EnterRequest swapped{entered, expected, serial};
  EXPECT_FALSE(ListDirectoryOnce(tree.Path("d/Sub"), swapped, listing));
  std::filesystem::remove(tree.Path("d/Sub"));
  tree.File("d/Sub/z.txt", "z");
  EnterRequest anew{entered, expected, serial};
  ASSERT_TRUE(ListDirectoryOnce(tree.Path("d/Sub"), anew, listing));
  EXPECT_EQ(anew.resolved, expected);
  ASSERT_EQ(listing.entries.size(), 1u);
  EXPECT_EQ(listing.Name(0), "z.txt");
}

}  // namespace
