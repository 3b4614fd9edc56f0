// The code page the search and the name order read, as Windows tells it.
#include <gtest/gtest.h>

#include <windows.h>

#include "search/code_page.h"

namespace {

// The lead bytes are the system's for the ANSI code page, whichever it is; under code page
// 932 (the CI's run of Wine in Japanese) those of Shift JIS.
TEST(Win32CodePage, LeadBytesAreTheAnsiCodePagesOwn) {
  const LeadBytes lead = TextLeadBytes();
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<unsigned char>(b);
    EXPECT_EQ(lead.IsLead(byte), IsDBCSLeadByte(byte) != 0) << b;
  }
  if (GetACP() == 932) {
    EXPECT_TRUE(lead.IsLead(static_cast<unsigned char>(0x83)));
    EXPECT_FALSE(lead.IsLead(static_cast<unsigned char>(0xA1)));  // a katakana of one byte
  }
}

}  // namespace
