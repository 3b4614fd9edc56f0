// Path and option spelling on Windows.
#include "app/path_rules.h"
#include "app/path_rules-win32.h"

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
  EXPECT_TRUE(r->settings.recursive);
  EXPECT_EQ(r->settings.namePattern, "*.txt");
}

TEST(Win32PathRules, SplitsAtEitherSeparatorAfterTheDrive) {
  EXPECT_EQ(SplitFileSpec("C:\\docs/v1.2\\report.final.txt"),
            (FileSpecParts{"C:\\docs/v1.2\\", "report.final", ".txt"}));

  EXPECT_EQ(SplitFileSpec("C:*.txt"), (FileSpecParts{"C:", "*", ".txt"}));

  // a dot in the directory is not the extension's
  EXPECT_EQ(SplitFileSpec("C:notes.d\\Makefile"), (FileSpecParts{"C:notes.d\\", "Makefile", ""}));

  // Only a colon in the second place makes a drive.
  EXPECT_EQ(SplitFileSpec("ab:c.txt"), (FileSpecParts{"", "ab:c", ".txt"}));
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
  EXPECT_EQ(ParseCommandLine({"C:*.txt", "x"})->settings.namePattern, "*.txt");
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

// Shift-JIS (code page 932): lead bytes 0x81-0x9F and 0xE0-0xFC. "\x95\x5C" is one character
// whose trail byte is a backslash.
bool IsShiftJisLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

TEST(Win32PathRules, TrailBytesOfTwoByteCharactersAreNeverSeparators) {
  FileSpecParts p = SplitFileSpecIn("C:\\\x95\x5C\\data\x83\x5C.txt", IsShiftJisLeadByte);
  EXPECT_EQ(p.directory, "C:\\\x95\x5C\\");
  EXPECT_EQ(p.name, "data\x83\x5C");
  EXPECT_EQ(p.extension, ".txt");

  p = SplitFileSpecIn("\x95\x5C*.txt", IsShiftJisLeadByte);  // no directory at all
  EXPECT_EQ(p.directory, "");
  EXPECT_EQ(p.name, "\x95\x5C*");

  // A lead byte in the first place takes the colon along: no drive.
  p = SplitFileSpecIn("\x95:x.txt", IsShiftJisLeadByte);
  EXPECT_EQ(p.directory, "");
  EXPECT_EQ(p.name, "\x95:x");

  // The same bytes in a code page without lead bytes split at the 0x5C.
  p = SplitFileSpecIn("\x95\x5C*.txt", [](unsigned char) { return false; });
  EXPECT_EQ(p.directory, "\x95\x5C");

  // A trail byte 0x5C at the end is part of the name, not a separator to remove or to add to.
  EXPECT_EQ(RootOfIn("docs\\\x95\x5C", IsShiftJisLeadByte), "docs\\\x95\x5C");
  EXPECT_EQ(RootOfIn("docs\\\x95\x5C\\\\", IsShiftJisLeadByte), "docs\\\x95\x5C");
  EXPECT_EQ(RootOfIn("C:\x95\x5C", IsShiftJisLeadByte), "C:\x95\x5C");
  EXPECT_EQ(JoinPathIn("docs\\\x95\x5C", "a.txt", IsShiftJisLeadByte),
            "docs\\\x95\x5C\\a.txt");
  EXPECT_EQ(JoinPathIn("docs\\", "a.txt", IsShiftJisLeadByte), "docs\\a.txt");
}

}  // namespace
