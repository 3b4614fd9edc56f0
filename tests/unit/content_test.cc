#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

#include "search/content_stream.h"
#include "search/text_mode.h"

namespace {

// The rule, one byte at a time.
std::string PlainTextMode(std::string_view raw) {
  std::string out;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == 26) break;
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    out += raw[i];
  }
  return out;
}

std::string RandomText(std::mt19937& rng, std::size_t size, std::string_view alphabet) {
  std::string s(size, ' ');
  for (char& c : s) c = alphabet[rng() % alphabet.size()];
  return s;
}

TEST(TextMode, AgreesWithThePlainRuleOnRandomInput) {
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; ++round) {
    // Mostly text with many CRs and LFs; byte 26 only now and then, so that long stretches
    // pass through the vector path.
    const std::string_view alphabet = round % 4 ? "ab\r\n\r\n\r" : "ab\r\n\x1a";
    const std::string raw = RandomText(rng, rng() % 300, alphabet);
    std::string translated = raw;
    TranslateTextMode(translated);
    ASSERT_EQ(translated, PlainTextMode(raw)) << "round " << round;
  }
}

TEST(TextMode, ReportsWhereTheTextEnds) {
  std::string s(100, 'x');
  s[70] = 26;
  bool sawEnd = false;
  EXPECT_EQ(TranslateTextMode(s.data(), s.size(), sawEnd), 70u);
  EXPECT_TRUE(sawEnd);
  std::string t = std::string(40, 'y') + "\r";
  EXPECT_EQ(TranslateTextMode(t.data(), t.size(), sawEnd), 41u);  // a last CR stays
  EXPECT_FALSE(sawEnd);
}

// A file in a fresh temporary directory, removed at the end of the test.
class TempFile {
 public:
  explicit TempFile(const std::string& content) {
    char dir[] = "/tmp/qz-content-XXXXXX";
    dir_ = mkdtemp(dir);
    path_ = dir_ + "/file.txt";
    std::ofstream(path_, std::ios::binary) << content;
  }
  ~TempFile() {
    std::remove(path_.c_str());
    rmdir(dir_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string dir_, path_;
};

// Everything the stream delivers, sliding the window the way the search does.
std::string ReadAll(ContentStream& stream) {
  std::string all;
  for (;;) {
    all += stream.window();
    if (stream.atEnd()) return all;
    // Keep a tail of the window, as the search keeps context, and check it stays in place.
    const std::size_t keep = stream.window().size() > 300 ? stream.window().size() - 300 : 0;
    const std::string tail(stream.window().substr(keep));
    stream.Advance(keep);
    EXPECT_EQ(stream.window().substr(0, tail.size()), tail);
    all.resize(all.size() - tail.size());
  }
}

TEST(ContentStream, DeliversTheTextModeContentAcrossParts) {
  constexpr std::size_t part = ContentStream::kPartSize;
  std::mt19937 rng(3);
  std::string raw = RandomText(rng, 3 * part + 12345, "abc\r\n");
  raw[part - 1] = '\r';  // a CR LF pair split between two parts
  raw[part] = '\n';
  raw[2 * part - 1] = '\r';  // a lone CR at the end of a part
  raw[2 * part] = 'z';
  TempFile file(raw);
  std::string buffer;
  ContentStream stream(buffer);
  ASSERT_EQ(stream.Open(file.path(), false), OpenResult::Opened);
  EXPECT_EQ(ReadAll(stream), PlainTextMode(raw));
  EXPECT_LE(buffer.size(), part + 1000);  // bounded by one part and the kept tail
}

TEST(ContentStream, StopsAtByte26InALaterPart) {
  std::string raw(ContentStream::kPartSize + 5000, 'q');
  raw[ContentStream::kPartSize + 100] = 26;
  TempFile file(raw);
  std::string buffer;
  ContentStream stream(buffer);
  ASSERT_EQ(stream.Open(file.path(), true), OpenResult::Opened);
  EXPECT_EQ(ReadAll(stream).size(), ContentStream::kPartSize + 100);
}

TEST(ContentStream, EndsWithAFinalCrAndHandlesEmptyFiles) {
  TempFile crAtEnd("line\r");
  std::string buffer;
  ContentStream stream(buffer);
  ASSERT_EQ(stream.Open(crAtEnd.path(), false), OpenResult::Opened);
  EXPECT_TRUE(stream.atEnd());
  EXPECT_EQ(stream.window(), "line\r");

  TempFile empty("");
  ASSERT_EQ(stream.Open(empty.path(), false), OpenResult::Opened);
  EXPECT_TRUE(stream.atEnd());
  EXPECT_EQ(stream.window(), "");
}

TEST(ContentStream, OpensOnlyRegularFiles) {
  std::string buffer;
  ContentStream stream(buffer);
  EXPECT_EQ(stream.Open("/nonexistent/qz/file", false), OpenResult::NotOpened);
  EXPECT_EQ(stream.Open("/tmp", false), OpenResult::NotOpened);
  EXPECT_EQ(stream.Open("/tmp", true), OpenResult::NotOpened);  // the hint is checked
  EXPECT_EQ(stream.Open("/dev/null", false), OpenResult::NotOpened);
}

}  // namespace
