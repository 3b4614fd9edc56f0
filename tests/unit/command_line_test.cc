#include "app/command_line.h"

#include <gtest/gtest.h>

#include "app/path_rules.h"

namespace {

std::optional<SearchRequest> Parse(std::vector<std::string_view> args) {
  return ParseCommandLine(args);
}

TEST(CommandLine, TooFewArgumentsAskForUsage) {
  EXPECT_FALSE(Parse({}));
  EXPECT_FALSE(Parse({"*.txt"}));
  // The option is skipped as the file spec, so no search text is left.
  EXPECT_FALSE(Parse({"/s", "*.txt"}));
  // Nothing but options: no file spec at all.
  EXPECT_FALSE(Parse({"/s", "/x", "/q"}));
  EXPECT_EQ(kUsageLine.size(), 46u);
}

TEST(CommandLine, OptionsAnywhereTurnRecursionOn) {
  auto r = Parse({"*.txt", "budget", "/s"});
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->settings.recursive);
  EXPECT_EQ(r->settings.searchText, "budget");

  // The argument after the file spec is the search text even when it looks like an option,
  // and it still turns recursion on.
  r = Parse({"*.txt", "/s", "budget"});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->settings.searchText, "/s");
  EXPECT_TRUE(r->settings.recursive);
  r = Parse({"*.txt", "/sizeof"});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->settings.searchText, "/sizeof");
  EXPECT_TRUE(r->settings.recursive);

  r = Parse({"/sub", "/x", "*.txt", "budget", "extra"});
  ASSERT_TRUE(r);
  EXPECT_EQ(r->settings.namePattern, "*.txt");
  EXPECT_EQ(r->settings.searchText, "budget");
  EXPECT_TRUE(r->settings.recursive);

  // Only a lower-case s counts.
  r = Parse({"*.txt", "budget", "/S"});
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->settings.recursive);
}

TEST(CommandLine, OptionsBeginWithASlash) {
  EXPECT_TRUE(IsOption("/s"));
  EXPECT_TRUE(IsOption("/"));
  EXPECT_FALSE(IsOption("s"));
  EXPECT_FALSE(IsOption("-s"));
  EXPECT_FALSE(IsOption(""));
}

TEST(CommandLine, SplitsTheFileSpecAtTheLastSlashAndDot) {
  EXPECT_EQ(SplitFileSpec("docs/v1.2/report.final.txt"),
            (FileSpecParts{"docs/v1.2/", "report.final", ".txt"}));

  EXPECT_EQ(SplitFileSpec("docs.d/Makefile"),  // a dot in the directory is not the extension's
            (FileSpecParts{"docs.d/", "Makefile", ""}));

  const FileSpecParts p = SplitFileSpec("docs/");
  EXPECT_EQ(p.name + p.extension, "");
}

TEST(CommandLine, RootHasNoTrailingSeparator) {
  EXPECT_EQ(RootOf(""), ".");
  EXPECT_EQ(RootOf("docs/"), "docs");
  EXPECT_EQ(RootOf("docs///"), "docs");
  EXPECT_EQ(RootOf("../up/"), "../up");

  EXPECT_EQ(Parse({"*.txt", "x"})->root, ".");
  EXPECT_EQ(Parse({"docs/*.txt", "x"})->root, "docs");
  // A leading slash makes an option, so the file spec is skipped and no search text is left.
  EXPECT_FALSE(Parse({"/*.txt", "x"}));
}

}  // namespace
