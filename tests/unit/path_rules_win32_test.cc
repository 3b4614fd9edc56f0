// Path and option spelling on Windows.
#include "app/path_rules.h"

#include <gtest/gtest.h>

#include "app/command_line.h"

namespace {

TEST(Win32PathRules, EverySlashArgumentIsAnOption) {
  EXPECT_TRUE(IsOption("/home/me/*.txt"));
  EXPECT_TRUE(IsOption("//*.conf"));
  EXPECT_FALSE(IsOption("\\*.txt"));
  EXPECT_FALSE(IsOption("C:/notes/*.txt"));

  // The file spec is skipped as an option, so no search text is left.
  EXPECT_FALSE(ParseCommandLine({"/notes/*.txt", "budget"}));
  auto r = ParseCommandLine({"/sub/dir", "*.txt", "budget"});
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->recursive);
  EXPECT_EQ(r->namePattern, "*.txt");
}

TEST(Win32PathRules, SplitsAtEitherSeparatorAfterTheDrive) {
  FileSpecParts p = SplitFileSpec("C:\\docs/v1.2\\report.final.txt");
  EXPECT_EQ(p.directory, "C:\\docs/v1.2\\");
  EXPECT_EQ(p.name, "report.final");
  EXPECT_EQ(p.extension, ".txt");

  p = SplitFileSpec("C:*.txt");
  EXPECT_EQ(p.directory, "C:");
  EXPECT_EQ(p.name, "*");
  EXPECT_EQ(p.extension, ".txt");

  p = SplitFileSpec("C:notes.d\\Makefile");  // a dot in the directory is not the extension's
  EXPECT_EQ(p.directory, "C:notes.d\\");
  EXPECT_EQ(p.name, "Makefile");
  EXPECT_EQ(p.extension, "");

  // Only a colon in the second place makes a drive.
  p = SplitFileSpec("ab:c.txt");
  EXPECT_EQ(p.directory, "");
  EXPECT_EQ(p.name, "ab:c");
}

TEST(Win32PathRules, RootsKeepTheDriveAndOneSeparatorAtTheTop) {
  EXPECT_EQ(RootOf(""), ".");
  EXPECT_EQ(RootOf("docs\\"), "docs");
  EXPECT_EQ(RootOf("docs\\/\\"), "docs");
  EXPECT_EQ(RootOf("..\\"), "..");
  EXPECT_EQ(RootOf("\\"), "\\");
  EXPECT_EQ(RootOf("C:"), "C:\\");
  EXPECT_EQ(RootOf("C:\\\\"), "C:\\");
  EXPECT_EQ(RootOf("C:docs\\"), "C:docs");
  EXPECT_EQ(RootOf("\\\\server\\share\\"), "\\\\server\\share");

  EXPECT_EQ(ParseCommandLine({"docs\\*.txt", "x"})->root, "docs");
  EXPECT_EQ(ParseCommandLine({"..\\*.txt", "x"})->root, "..");
  EXPECT_EQ(ParseCommandLine({"\\*.txt", "x"})->root, "\\");
  EXPECT_EQ(ParseCommandLine({"C:\\*.txt", "x"})->root, "C:\\");
  EXPECT_EQ(ParseCommandLine({"C:*.txt", "x"})->root, "C:\\");
  EXPECT_EQ(ParseCommandLine({"C:*.txt", "x"})->namePattern, "*.txt");
}

TEST(Win32PathRules, JoinsWithOneBackslash) {
  EXPECT_EQ(JoinPath(".", "a.txt"), ".\\a.txt");
  EXPECT_EQ(JoinPath("C:\\", "a.txt"), "C:\\a.txt");
  EXPECT_EQ(JoinPath("\\", "a.txt"), "\\a.txt");
  EXPECT_EQ(JoinPath("docs/", "a.txt"), "docs/a.txt");
  EXPECT_EQ(JoinPath("C:", "a.txt"), "C:a.txt");  // stays relative to C:'s current directory

  // Long paths are kept whole.
  const std::string deep(1000, 'd');
  EXPECT_EQ(JoinPath("C:\\" + deep, deep), "C:\\" + deep + "\\" + deep);
}

}  // namespace
