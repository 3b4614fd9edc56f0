// Listing directories and reading files on Windows: the names and path lengths the classic
// ANSI file functions get wrong, and the sharing the reader asks for.
#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <filesystem>
#include <random>
#include <string>

#include "app/dir_listing.h"
#include "app/path_rules.h"
#include "search/input_file.h"

namespace {

// A fresh directory under the temporary directory, removed with everything in it at the end.
class TempDirectory {
 public:
  TempDirectory() {
    std::random_device random;
    do path_ = std::filesystem::temp_directory_path() / ("qz-files-" + std::to_string(random()));
    while (!std::filesystem::create_directory(path_));
  }
  ~TempDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(Extended(path_.wstring()), ignored);
  }
  std::string path() const { return path_.string(); }
  std::wstring wide() const { return path_.wstring(); }

  // The extended form, which takes any name and any length.
  static std::wstring Extended(const std::wstring& path) { return L"\\\\?\\" + path; }

 private:
  std::filesystem::path path_;
};

void MakeFile(const std::wstring& extendedPath, const std::string& content) {
  const HANDLE file = CreateFileW(extendedPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  CloseHandle(file);
  ASSERT_EQ(written, content.size());
}

std::string ReadAll(InputFile& file) {
  std::string all;
  char part[7];  // small, so that several reads are needed
  for (std::int64_t n; (n = file.Read(part, sizeof part)) > 0;) all.append(part, n);
  return all;
}

TEST(Win32Files, ListsEntriesWithTheirKinds) {
  TempDirectory dir;
  MakeFile(TempDirectory::Extended(dir.wide() + L"\\b.txt"), "b");
  MakeFile(TempDirectory::Extended(dir.wide() + L"\\A.txt"), "a");
  ASSERT_TRUE(CreateDirectoryW(TempDirectory::Extended(dir.wide() + L"\\sub").c_str(), nullptr));

  DirectoryListing listing;
  ASSERT_TRUE(ListDirectory(dir.path(), listing));
  ASSERT_EQ(listing.entries.size(), 3u);
  EXPECT_EQ(listing.Name(0), "A.txt");
  EXPECT_EQ(listing.Name(1), "b.txt");
  EXPECT_EQ(listing.Name(2), "sub");
  EXPECT_TRUE(listing.entries[1].isRegularFile);
  EXPECT_FALSE(listing.entries[1].isDirectory);
  EXPECT_TRUE(listing.entries[2].isDirectory);
  EXPECT_FALSE(listing.entries[2].isRegularFile);

  // The same directory under another spelling resolves to the same path; another directory
  // does not, and a subdirectory's is its parent's joined with its name.
  std::string resolved, again, sub;
  ASSERT_TRUE(ResolveDirectory(dir.path(), resolved));
  ASSERT_TRUE(ResolveDirectory(dir.path() + "/sub/..", again));
  ASSERT_TRUE(ResolveDirectory(dir.path() + "\\sub", sub));
  EXPECT_EQ(again, resolved);
  EXPECT_EQ(sub, JoinPath(resolved, "sub"));

  EXPECT_FALSE(ListDirectory(dir.path() + "\\missing", listing));
}

TEST(Win32Files, DeviceNamesInADirectoryAreOrdinaryFiles) {
  TempDirectory dir;
  MakeFile(TempDirectory::Extended(dir.wide() + L"\\CON"), "not the console");
  MakeFile(TempDirectory::Extended(dir.wide() + L"\\nul.txt"), "not the null device");

  DirectoryListing listing;
  ASSERT_TRUE(ListDirectory(dir.path(), listing));
  ASSERT_EQ(listing.entries.size(), 2u);
  EXPECT_EQ(listing.Name(0), "CON");

  InputFile file;
  std::uint64_t length = 0;
  ASSERT_EQ(file.Open(dir.path() + "\\CON", true, length), OpenResult::Opened);
  EXPECT_EQ(length, 15u);
  EXPECT_EQ(ReadAll(file), "not the console");
  ASSERT_EQ(file.Open(dir.path() + "\\nul.txt", false, length), OpenResult::Opened);
  EXPECT_EQ(ReadAll(file), "not the null device");
}

TEST(Win32Files, PathsLongerThanTheClassicLimitWork) {
  TempDirectory dir;
  std::wstring deep = dir.wide();
  for (int i = 0; i < 6; ++i) {
    deep += L"\\" + std::wstring(50, static_cast<wchar_t>(L'a' + i));
    ASSERT_TRUE(CreateDirectoryW(TempDirectory::Extended(deep).c_str(), nullptr));
  }
  MakeFile(TempDirectory::Extended(deep + L"\\f.txt"), "deep down");
  const std::string deepPath = std::filesystem::path(deep).string();
  ASSERT_GT(deepPath.size(), 300u);

  DirectoryListing listing;
  ASSERT_TRUE(ListDirectory(deepPath, listing));
  ASSERT_EQ(listing.entries.size(), 1u);
  EXPECT_EQ(listing.Name(0), "f.txt");

  InputFile file;
  std::uint64_t length = 0;
  ASSERT_EQ(file.Open(deepPath + "\\f.txt", true, length), OpenResult::Opened);
  EXPECT_EQ(ReadAll(file), "deep down");
}

TEST(Win32Files, OthersMayReadButNotWriteWhileTheFileIsOpen) {
  TempDirectory dir;
  const std::wstring wide = dir.wide() + L"\\f.txt";
  MakeFile(TempDirectory::Extended(wide), "content");

  InputFile file;
  std::uint64_t length = 0;
  ASSERT_EQ(file.Open(dir.path() + "\\f.txt", true, length), OpenResult::Opened);
  const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const HANDLE writer = CreateFileW(wide.c_str(), GENERIC_WRITE, shareAll, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  const HANDLE reader = CreateFileW(wide.c_str(), GENERIC_READ, shareAll, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);

  // Once closed, the file is free again.
  file.Close();
  const HANDLE later = CreateFileW(wide.c_str(), GENERIC_WRITE, shareAll, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(later, INVALID_HANDLE_VALUE);
  if (later != INVALID_HANDLE_VALUE) CloseHandle(later);
}

TEST(Win32Files, MapsTheWholeFileUntilClosed) {
  TempDirectory dir;
  const std::string content = std::string(100000, 'm') + "end";
  MakeFile(TempDirectory::Extended(dir.wide() + L"\\big.txt"), content);

  InputFile file;
  std::uint64_t length = 0;
  ASSERT_EQ(file.Open(dir.path() + "\\big.txt", true, length), OpenResult::Opened);
  const char* mapping = file.Map(length);
  ASSERT_NE(mapping, nullptr);
  EXPECT_EQ(std::string(mapping, length), content);
  EXPECT_EQ(file.MappedIntact(), length);
  EXPECT_EQ(file.Map(length), nullptr);  // one mapping at a time
  file.Close();
  EXPECT_EQ(file.Map(length), nullptr);  // nothing open
}

TEST(Win32Files, OnlyDiskFilesAreOpened) {
  TempDirectory dir;
  InputFile file;
  std::uint64_t length = 0;
  EXPECT_EQ(file.Open(dir.path(), true, length), OpenResult::NotOpened);
  EXPECT_EQ(file.Open(dir.path() + "\\missing.txt", false, length), OpenResult::NotOpened);
  EXPECT_EQ(file.Open("\\\\.\\NUL", false, length), OpenResult::NotOpened);
  EXPECT_EQ(file.Read(nullptr, 0), -1);  // nothing is open after a refusal
}

}  // namespace
