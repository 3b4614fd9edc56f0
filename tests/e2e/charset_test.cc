// End-to-end tests of the terminal's character set: what qz writes in a locale that is not
// UTF-8, as the 8-bit terminal such a locale goes with shows it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_support.h"

namespace qz_e2e {
namespace {

// File text whose UTF-8 carries bytes an 8-bit terminal takes for C1 controls: the last byte
// of U+201B is CSI (with "2J" after it, a clear of the screen), that of U+201D is OSC (which
// would swallow the text after it).
const std::string kHostile = "x\u201B2J y\u201Dhidden";

LaunchOptions EightBit(const TempTree& tree, std::vector<std::string> args,
                       const std::string& locale) {
  LaunchOptions options = In(tree, std::move(args));
  options.locale = locale;
  options.eightBitTerminal = true;
  return options;
}

testing::AssertionResult NoC1Bytes(const std::string& raw) {
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const auto b = static_cast<unsigned char>(raw[i]);
    if (b >= 0x80 && b <= 0x9F)
      return testing::AssertionFailure() << "byte " << int{b} << " at " << i << " of "
                                         << Printable(raw);
  }
  return testing::AssertionSuccess();
}

// A Latin-1 locale compiled for the tests into a folder of their own (LOCPATH), so that no
// locale has to be installed on the system.
struct Latin1Locale {
  TempTree folder;
  std::string name = "en_US.ISO-8859-1";
  bool built = RunProgram({"localedef", "-i", "en_US", "-f", "ISO-8859-1",
                           folder.Path(name)}) == 0;
  std::string locpath = "LOCPATH=" + folder.path();
};

// The cells a Latin-1 terminal shows for `bytes` from qz: '?' where qz stands in for a byte
// the set does not show, each other byte as its Latin-1 character.
std::vector<std::string> Latin1Cells(std::string_view bytes) {
  std::vector<std::string> cells;
  for (char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (b < 0x80)
      cells.emplace_back(1, ch);
    else if (b < 0xA0)
      cells.emplace_back("?");
    else
      cells.push_back({static_cast<char>(0xC0 | (b >> 6)), static_cast<char>(0x80 | (b & 0x3F))});
  }
  return cells;
}

std::string Join(const std::vector<std::string>& cells, std::size_t from, std::size_t count) {
  std::string out;
  for (std::size_t i = from; i < from + count && i < cells.size(); ++i) out += cells[i];
  return out;
}

TEST(CharacterSet, TheCLocaleGetsSevenBitOutputOnly) {
  TempTree tree;
  const std::string content = "before " + kHostile + " needle \x01 caf\u00E9 after";
  tree.File("caf\u00E9.txt", content);
  PtyTerminal t(EightBit(tree, {"*.txt", "needle"}, "C"));
  ASSERT_TRUE(ReachPrompt(t, 1));
  EXPECT_EQ(t.Row(0), "Found in ./caf??.txt - position " +
                          std::to_string(content.find("needle")) + ":") << Describe(t);
  EXPECT_EQ(t.Row(2), "before x???2J y???hidden needle ? caf?? after");
  ExpectColours(t, 2, 25, 31, kBlack, kGrey);
  EXPECT_TRUE(AnswerAndExit(t, "\x1b"));
  EXPECT_TRUE(HasRow(t, std::string(kPromptRow) + " ?")) << "the Esc echo" << Describe(t);
  ExpectCounts(t, "1 file", "1 occurrence");
  for (char c : t.Transcript())
    ASSERT_LT(static_cast<unsigned char>(c), 0x80) << Printable(t.Transcript());
}

// A locale that is named but not installed here: its terminal is taken to read UTF-8 when the
// name says so (in either case, as "UTF8" or "utf-8"), and otherwise to show ASCII only, as
// nothing tells which of its characters it shows.
TEST(CharacterSet, ALocaleThatIsNotInstalledIsKnownByItsName) {
  TempTree tree;
  tree.File("a.txt", "caf\u00E9 needle");
  for (const char* name : {"qz_XX.UTF8", "qz_XX.utf-8"}) {
    PtyTerminal t(In(tree, {"*.txt", "needle"}, {.locale = name}));
    ASSERT_TRUE(ReachPrompt(t, 1)) << name;
    EXPECT_EQ(t.Row(2), "caf\u00E9 needle") << name << "\n" << Describe(t);
    EXPECT_TRUE(AnswerAndExit(t, "\x1b")) << name;
  }
  tree.File("b.txt", "\x7f needle");  // DEL, which acts on no terminal and shows nothing
  PtyTerminal t(EightBit(tree, {"*.txt", "needle"}, "qz_XX.ISO-8859-1"));
  ASSERT_TRUE(ReachPrompt(t, 1));
  EXPECT_EQ(t.Row(2), "caf?? needle") << Describe(t);
  ASSERT_TRUE(AnswerPrompt(t, 1, "n"));
  ASSERT_TRUE(ReachPrompt(t, 2));
  EXPECT_EQ(t.Row(2), "? needle") << Describe(t);
  EXPECT_TRUE(AnswerAndExit(t, "\x1b"));
  for (char c : t.Transcript())
    ASSERT_LT(static_cast<unsigned char>(c), 0x80) << Printable(t.Transcript());
}

TEST(CharacterSet, ALatin1LocaleGetsItsOwnCharactersAndNoC1Controls) {
  Latin1Locale latin1;
  ASSERT_TRUE(latin1.built) << "localedef (Debian's locales package) could not build the locale";
  TempTree tree;
  // Latin-1 text, one byte a character, long enough to wrap; then the UTF-8 that would act.
  const std::string content =
      "caf\xE9 " + std::string(90, '\xE9') + " needle " + kHostile + " \xA0\xFF\x85 end";
  tree.File("caf\xE9.txt", content);
  LaunchOptions options = EightBit(tree, {"*.txt", "needle"}, latin1.name);
  options.environment = {latin1.locpath};
  PtyTerminal t(options);
  ASSERT_TRUE(ReachPrompt(t, 1));
  EXPECT_EQ(t.Row(0), "Found in ./caf\u00E9.txt - position " +
                          std::to_string(content.find("needle")) + ":") << Describe(t);
  // One cell a byte, and the rows break one column before the edge as for ASCII.
  const std::vector<std::string> cells = Latin1Cells(content);
  EXPECT_EQ(t.Row(2), Join(cells, 0, 79)) << Describe(t);
  EXPECT_EQ(t.Row(3), Join(cells, 79, 79));
  EXPECT_TRUE(AnswerAndExit(t, "\x1b"));
  EXPECT_TRUE(HasRow(t, std::string(kPromptRow) + " ?")) << "the Esc echo" << Describe(t);
  ExpectCounts(t, "1 file", "1 occurrence");
  EXPECT_TRUE(NoC1Bytes(t.Transcript()));
}

}  // namespace
}  // namespace qz_e2e
