#include "app/command_line.h"

#include <gtest/gtest.h>

#include "app/path_rules.h"
#include "app/search_driver.h"

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
  FileSpecParts p = SplitFileSpec("docs/v1.2/report.final.txt");
  EXPECT_EQ(p.directory, "docs/v1.2/");
  EXPECT_EQ(p.name, "report.final");
  EXPECT_EQ(p.extension, ".txt");

  p = SplitFileSpec("docs.d/Makefile");  // a dot in the directory is not the extension's
  EXPECT_EQ(p.directory, "docs.d/");
  EXPECT_EQ(p.name, "Makefile");
  EXPECT_EQ(p.extension, "");

  p = SplitFileSpec("docs/");
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

TEST(Summary, PluralEndingsAndFullCounts) {
  EXPECT_EQ(ComposeSummary(0, 0, "x"),
            "\n\nSearch complete\n\n0 files found containing the text \"x\"\n\n"
            "0 occurrences of the text \"x\"\n\n");
  EXPECT_EQ(ComposeSummary(1, 1, "budget"),
            "\n\nSearch complete\n\n1 file found containing the text \"budget\"\n\n"
            "1 occurrence of the text \"budget\"\n\n");
  const std::string s = ComposeSummary(1, 18446744073709551615ull, "b");
  EXPECT_NE(s.find("1 file found"), std::string::npos);
  EXPECT_NE(s.find("18446744073709551615 occurrences"), std::string::npos);
  // A long search text is never cut short.
  const std::string longText(5000, 'q');
  const std::string big = ComposeSummary(2, 3, longText);
  EXPECT_NE(big.find("\"" + longText + "\"\n\n3 occurrences of the text \"" + longText + "\"\n\n"),
            std::string::npos);
}

}  // namespace
