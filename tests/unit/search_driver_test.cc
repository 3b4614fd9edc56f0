#include "search/program_texts.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Summary, PluralEndingsAndFullCounts) {
  EXPECT_EQ(SummaryText(0, 0, "x"),
            "\n\nSearch complete\n\n0 files found containing the text \"x\"\n\n"
            "0 occurrences of the text \"x\"\n\n");
  EXPECT_EQ(SummaryText(1, 1, "budget"),
            "\n\nSearch complete\n\n1 file found containing the text \"budget\"\n\n"
            "1 occurrence of the text \"budget\"\n\n");
  const std::string s = SummaryText(1, 18446744073709551615ull, "b");
  EXPECT_NE(s.find("1 file found"), std::string::npos);
  EXPECT_NE(s.find("18446744073709551615 occurrences"), std::string::npos);
  // A long search text is never cut short.
  const std::string longText(5000, 'q');
  const std::string big = SummaryText(2, 3, longText);
  EXPECT_NE(big.find("\"" + longText + "\"\n\n3 occurrences of the text \"" + longText + "\"\n\n"),
            std::string::npos);
}

}  // namespace
