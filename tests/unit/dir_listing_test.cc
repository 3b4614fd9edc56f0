#include "app/dir_listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/path_rules.h"
#include "support/temp_tree.h"

namespace {

TEST(NameOrder, FoldsLettersThenBreaksTiesByBytes) {
  std::vector<std::string> names = {"b.txt", "A.txt", "a.txt", "_x", "B.txt", "a"};
  std::sort(names.begin(), names.end(), NameOrderLess);
  // '_' (0x5F) comes before every letter once letters are folded to lower case.
  EXPECT_EQ(names, (std::vector<std::string>{"_x", "a", "A.txt", "a.txt", "B.txt", "b.txt"}));
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

}  // namespace
