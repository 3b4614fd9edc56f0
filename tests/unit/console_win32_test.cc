// The console's wrap in a Windows code page of two-byte characters.
#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "console/console.h"

namespace {

// Under code page 932 a lead byte and its trail byte are one character of two cells: at the
// edge it moves to the next row whole, never split by the break.
TEST(Win32Console, ATwoByteCharacterMovesWholeToTheNextRow) {
  // A process started without a console (the tests' under a headless Wine) makes its own.
  const bool made = GetConsoleWindow() == nullptr && AllocConsole();
  const UINT previous = GetConsoleOutputCP();
  if (!SetConsoleOutputCP(932)) GTEST_SKIP() << "no console whose code page could be set";
  const std::string kanji = "\x95\x5C";  // its trail byte is '\'
  const std::string wrapped = WrapColored(std::string(78, 'a') + kanji + "b", 0, 79);
  const std::string fits = WrapColored(std::string(77, 'a') + kanji + "b", 0, 79);
  SetConsoleOutputCP(previous);
  if (made) FreeConsole();
  EXPECT_EQ(wrapped, std::string(78, 'a') + "\n\r" + kanji + "b");
  EXPECT_EQ(fits, std::string(77, 'a') + kanji + "\n\rb");
}

}  // namespace
