// Path and option spelling on POSIX systems.
#include "app/path_rules.h"

#include <gtest/gtest.h>

#include "app/command_line.h"

namespace {

TEST(PosixPathRules, AbsolutePathsAreFileSpecsNotOptions) {
  EXPECT_FALSE(IsOption("/home/me/*.txt"));
  EXPECT_FALSE(IsOption("/s/"));

  auto r = ParseCommandLine({"/home/me/notes/*.txt", "budget", "/s"});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->root, "/home/me/notes");
  EXPECT_EQ(r->settings.namePattern, "*.txt");
  EXPECT_TRUE(r->settings.recursive);
}

TEST(PosixPathRules, BackslashIsAnOrdinaryByte) {
  EXPECT_EQ(SplitFileSpec("docs\\*.txt"), (FileSpecParts{"", "docs\\*", ".txt"}));
}

TEST(PosixPathRules, RootDirectoryIsNamedWithTwoSlashes) {
  EXPECT_EQ(RootOf("/"), "/");
  EXPECT_EQ(RootOf("///"), "/");
  EXPECT_EQ(ParseCommandLine({"//*.txt", "x"})->root, "/");
}

TEST(PosixPathRules, JoinsPathsWithOneSlash) {
  EXPECT_EQ(JoinPath(".", "a.txt"), "./a.txt");
  EXPECT_EQ(JoinPath("/", "a.txt"), "/a.txt");
  EXPECT_EQ(JoinPath("docs", "a.txt"), "docs/a.txt");
  EXPECT_EQ(JoinPath("docs/", "a.txt"), "docs/a.txt");
}

}  // namespace
