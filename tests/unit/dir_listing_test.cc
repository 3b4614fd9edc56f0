#include "app/dir_listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_tree.h"

namespace {

TEST(NameOrder, FoldsLettersThenBreaksTiesByBytes) {
  std::vector<std::string> names = {"b.txt", "A.txt", "a.txt", "_x", "B.txt", "a"};
  std::sort(names.begin(), names.end(), NameOrderLess);
  // '_' (0x5F) comes before every letter once letters are folded to lower case.
  EXPECT_EQ(names, (std::vector<std::string>{"_x", "a", "A.txt", "a.txt", "B.txt", "b.txt"}));
}

// The id the walk checks before listing a directory is the listing's own, whichever path
// leads there; a file or a missing path has none.
TEST(DirectoryId, IsTheListingsOwnByAnyPath) {
  qz_test::TempTree tree;
  tree.File("d/x.txt", "x");
  tree.File("d/Sub/y.txt", "y");
  DirectoryListing listing;
  ASSERT_TRUE(ListDirectory(tree.Path("d"), listing));
  ASSERT_EQ(listing.entries.size(), 2u);
  EXPECT_EQ(listing.entries[0].name, "Sub");
  EXPECT_TRUE(listing.entries[0].isDirectory);
  EXPECT_TRUE(listing.entries[1].isRegularFile);

  DirectoryId id;
  ASSERT_TRUE(ReadDirectoryId(tree.Path("d"), id));
  EXPECT_EQ(id, listing.id);
  DirectoryId sub;
  ASSERT_TRUE(ReadDirectoryId(tree.Path("d/Sub"), sub));
  EXPECT_NE(sub, id);
  EXPECT_FALSE(ReadDirectoryId(tree.Path("d/x.txt"), sub));
  EXPECT_FALSE(ReadDirectoryId(tree.Path("missing"), sub));

  std::error_code noLinks;
  std::filesystem::create_directory_symlink(tree.Path("d"), tree.Path("link"), noLinks);
  if (noLinks) return;  // a file system or platform without links
  DirectoryId viaLink;
  ASSERT_TRUE(ReadDirectoryId(tree.Path("link"), viaLink));
  EXPECT_EQ(viaLink, id);
}

}  // namespace
