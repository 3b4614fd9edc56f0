#include <gtest/gtest.h>

#include <fstream>

#include <random>
#include <filesystem>

#include "search/content_stream.h"
#include "search/file_reads.h"
#include "search/occurrences.h"
#include "search/scanner.h"
#include "support/plain_find.h"
#include "support/plain_text_mode.h"
#include "support/temp_tree.h"

namespace {

using qz_test::FindNextPlain;
using qz_test::PlainTextMode;
using qz_test::RandomText;

// One file in a fresh temporary tree, removed at the end of the test.
class TempFile {
 public:
  explicit TempFile(const std::string& content) : path_(tree_.File("file.txt", content)) {}
  const std::string& path() const { return path_; }

 private:
  qz_test::TempTree tree_;
  std::string path_;
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
  ASSERT_EQ(stream.Open(file.path(), false, false), OpenResult::Opened);
  EXPECT_EQ(ReadAll(stream), PlainTextMode(raw));
  EXPECT_LE(buffer.size(), part + 1000);  // bounded by one part and the kept tail
}

// Parts follow the one that holds the byte 26, so that the content ends there and not merely
// where the file does.
TEST(ContentStream, StopsAtByte26InALaterPart) {
  std::string raw(3 * ContentStream::kPartSize + 5000, 'q');
  raw[ContentStream::kPartSize + 100] = 26;
  TempFile file(raw);
  std::string buffer;
  ContentStream stream(buffer);
  ASSERT_EQ(stream.Open(file.path(), true, false), OpenResult::Opened);
  const std::string all = ReadAll(stream);
  EXPECT_EQ(all.size(), ContentStream::kPartSize + 100);
  EXPECT_EQ(all.find_first_not_of('q'), std::string::npos);
}

TEST(ContentStream, EndsWithAFinalCrAndHandlesEmptyFiles) {
  TempFile crAtEnd("line\r");
  std::string buffer;
  ContentStream stream(buffer);
  ASSERT_EQ(stream.Open(crAtEnd.path(), false, false), OpenResult::Opened);
  EXPECT_TRUE(stream.atEnd());
  EXPECT_EQ(stream.window(), "line\r");

  TempFile empty("");
  ASSERT_EQ(stream.Open(empty.path(), false, false), OpenResult::Opened);
  EXPECT_TRUE(stream.atEnd());
  EXPECT_EQ(stream.window(), "");
}

TEST(ContentStream, OpensOnlyRegularFiles) {
  std::string buffer;
  ContentStream stream(buffer);
  EXPECT_EQ(stream.Open("/nonexistent/qz/file", false, false), OpenResult::NotOpened);
  EXPECT_EQ(stream.Open("/tmp", false, false), OpenResult::NotOpened);
  EXPECT_EQ(stream.Open("/tmp", true, false), OpenResult::NotOpened);  // the hint is checked
  EXPECT_EQ(stream.Open("/dev/null", false, false), OpenResult::NotOpened);
}

// The snapshot a file's first occurrence takes: later changes to the file do not reach the
// content, read in parts or mapped; a mapped file that lost pages before they were taken in
// ends where the loss begins, without a fault.
TEST(ContentStream, TakesTheRestInAndLetsTheFileGo) {
  for (const bool lazy : {false, true}) {
    for (const std::size_t size : {std::size_t{200000}, std::size_t{5} << 20}) {
      const std::string raw(size, 'a');
      TempFile file(raw);
      std::string buffer;
      ContentStream stream(buffer);
      ASSERT_EQ(stream.Open(file.path(), true, lazy), OpenResult::Opened);
      stream.TakeInRest();
      EXPECT_TRUE(stream.atEnd());
      std::ofstream(file.path(), std::ios::binary | std::ios::trunc) << "changed";
      EXPECT_EQ(stream.window(), raw) << size << " lazy " << lazy;
    }
  }
  const std::size_t size = std::size_t{6} << 20;
  TempFile file(std::string(size, 'b'));
  std::string buffer;
  ContentStream stream(buffer);
  ASSERT_EQ(stream.Open(file.path(), true, true), OpenResult::Opened);
  static_assert(ContentStream::kMapThreshold <= (std::uint64_t{6} << 20), "so this one is mapped");
  // Windows does not let a mapped file shrink: there the content stays whole.
  std::error_code cannotShrink;
  std::filesystem::resize_file(file.path(), std::size_t{1} << 20, cannotShrink);
  stream.TakeInRest();
  EXPECT_EQ(stream.window(), std::string(cannotShrink ? size : std::size_t{1} << 20, 'b'));
}

// Content the reads took in ahead is the file's, in either text mode, also after the window
// has moved on from it; once taken in (as before a prompt), it stays as it was while the reads
// go on to open and read ahead the files after it, in the place it was read into.
TEST(ContentStream, WhatTheReadsTookInAheadIsTheFilesAndStaysOnceTakenIn) {
  for (const ReadWay way : {ReadWay::Plain, ReadWay::Ring}) {
    for (const bool lazy : {false, true}) {
      qz_test::TempTree tree;
      std::vector<std::string> names, contents;
      std::vector<PlannedFile> plan;
      const int count = kFilesReadAhead + 8;
      names.reserve(count);
      for (int i = 0; i < count; ++i) {
        names.push_back("f" + std::to_string(i) + ".txt");
        std::string content;
        const std::size_t size = i == 1 ? 3 * ContentStream::kPartSize + 7 : 1000 + 37 * i;
        for (std::size_t k = 0; content.size() < size; ++k)
          content += static_cast<char>('a' + (k * 7 + i) % 26);
        contents.push_back(content);
        tree.File(names.back(), content);
        plan.push_back({names.back().c_str(), static_cast<std::uint32_t>(names.back().size()), true});
      }
      FileReads reads(way);
      reads.Plan(tree.path(), plan);
      std::string keptBuffer, buffer;
      ContentStream kept(keptBuffer);
      const std::string firstPath = tree.Path(names[0]);
      ASSERT_TRUE(reads.NextFile());
      ASSERT_EQ(kept.Open(FileOpener{firstPath, true, &reads}, lazy), OpenResult::Opened);
      kept.TakeInRest();  // as before a prompt; the reads then read ahead into its place
      for (int i = 1; i < count; ++i) {
        const std::string path = tree.Path(names[i]);
        ContentStream stream(buffer);
        ASSERT_TRUE(reads.NextFile());
        ASSERT_EQ(stream.Open(FileOpener{path, true, &reads}, lazy), OpenResult::Opened);
        EXPECT_EQ(ReadAll(stream), contents[i]) << "file " << i << " lazy " << lazy;
      }
      EXPECT_EQ(kept.window(), contents[0]) << "lazy " << lazy;
      reads.End();
    }
  }
}

struct Found {
  std::uint64_t position;
  std::string before, match, after;
  bool operator==(const Found&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Found& f) {
  return out << "at " << f.position << " [" << f.before.size() << "|" << f.match << "|"
             << f.after.size() << "]";
}

// What the search must find: every position of the plain compare over the plain translation.
std::vector<Found> Expected(std::string_view raw, std::string_view needle) {
  const std::string content = PlainTextMode(raw);
  std::vector<Found> found;
  for (std::size_t p = FindNextPlain(content, needle, 0); p != std::string::npos;
       p = FindNextPlain(content, needle, p + 1)) {
    const std::size_t from = p > kContextWidth ? p - kContextWidth : 0;
    found.push_back({p, content.substr(from, p - from), content.substr(p, needle.size()),
                     content.substr(p + needle.size(), kContextWidth)});
  }
  return found;
}

std::vector<Found> Search(const std::string& path, std::string_view needle, bool lazy,
                          const LeadBytes& lead = LeadBytes()) {
  std::string buffer;
  ContentStream stream(buffer);
  std::vector<Found> found;
  if (stream.Open(path, false, lazy) != OpenResult::Opened) return found;
  const Scanner scanner(needle, lead);
  Occurrences occurrences(stream, scanner);
  std::uint64_t position;
  MatchView view;
  for (Occurrences::Step step; (step = occurrences.Next(position, view)) != Occurrences::Step::Done;) {
    if (step == Occurrences::Step::Found)
      found.push_back({position, std::string(view.before), std::string(view.match),
                       std::string(view.after)});
  }
  return found;
}

TEST(Occurrences, LazyAndTranslatedModesAgreeWithThePlainRule) {
  std::mt19937 rng(11);
  for (int round = 0; round < 400; ++round) {
    const std::string raw = RandomText(rng, rng() % 2000, round % 5 ? "aA\r\r\n\nb" : "aA\r\nb\x1a");
    std::string needle = RandomText(rng, 1 + rng() % 3, "aAb\r");
    TempFile file(raw);
    ASSERT_EQ(Search(file.path(), needle, true), Expected(raw, needle)) << "round " << round;
    ASSERT_EQ(Search(file.path(), needle, false), Expected(raw, needle)) << "round " << round;
    needle = RandomText(rng, rng() % 3, "a\r\n");  // with an LF, or empty: translated only
    ASSERT_EQ(Search(file.path(), needle, false), Expected(raw, needle)) << "round " << round;
  }
}

TEST(Occurrences, LargeFilesAcrossPartsAndMapped) {
  std::mt19937 rng(5);
  // Sparse occurrences in CR LF text, some at the seams between parts, one after a byte 26.
  constexpr std::size_t kPart = ContentStream::kPartSize;
  for (const std::size_t size : {3 * kPart + 77, 3 * kPart + 1000, 3 * kPart + 5001, 2 * kPart + 3,
                                 2 * kPart + 33333, 2 * kPart + 77777,
                                 static_cast<std::size_t>(ContentStream::kMapThreshold) + 4099,
                                 Occurrences::kSlice + 333}) {
    // Mostly CR LF pairs, so that the window's cuts often fall between a CR and its LF.
    std::string raw;
    while (raw.size() < size) raw += (rng() % 3) ? "\r\n" : "x";
    raw.resize(size);
    // In a file longer than a slice, the first occurrence is the one cut by the slice's end.
    const std::size_t firstSeam = size > Occurrences::kSlice ? Occurrences::kSlice + kPart : kPart;
    for (std::size_t seam = firstSeam; seam + 10 < size; seam += kPart)
      raw.replace(seam - 3, 6, "Needle");
    if (size / 3 > Occurrences::kSlice || size < Occurrences::kSlice) raw.replace(size / 3, 6, "nEEDLE");
    // The earliest place an occurrence cut by the end of the first slice can start.
    if (size > Occurrences::kSlice + 10) raw.replace(Occurrences::kSlice + 1, 6, "needle");
    raw.replace(size - 200, 8, "\r\nneedl");  // cut short by the end
    std::string withEnd = raw;
    withEnd.replace(size > Occurrences::kSlice ? size - 100 : size / 2, 1, "\x1a");
    for (const std::string* r : {&raw, &withEnd}) {
      TempFile file(*r);
      const std::vector<Found> expected = Expected(*r, "needle");
      ASSERT_FALSE(expected.empty());
      EXPECT_EQ(Search(file.path(), "needle", true), expected) << size;
      EXPECT_EQ(Search(file.path(), "needle", false), expected) << size;
    }
  }
}

// An occurrence cut by the end of the first part, with each of its bytes but the first the
// first byte of the next part in turn: the window slides on to the earliest place such an
// occurrence can start, and no later.
TEST(Occurrences, FoundWhereverTheEndOfAPartCutsIt) {
  constexpr std::size_t kPart = ContentStream::kPartSize;
  const std::string needle = "needle";
  for (std::size_t before = 1; before < needle.size(); ++before) {
    std::string raw(kPart + 500, '.');
    raw.replace(kPart - before, needle.size(), needle);
    TempFile file(raw);
    for (const bool lazy : {true, false}) {
      const std::vector<Found> found = Search(file.path(), needle, lazy);
      ASSERT_EQ(found.size(), 1u) << before << " bytes before the cut, lazy " << lazy;
      EXPECT_EQ(found[0].position, kPart - before);
    }
  }
}

// Code page 932 (Shift JIS): lead bytes 0x81-0x9F and 0xE0-0xFC.
LeadBytes Cp932() {
  LeadBytes lead;
  lead.AddRange(0x81, 0x9F);
  lead.AddRange(0xE0, 0xFC);
  return lead;
}

// A text as its characters, walked from its start: a lead byte with the byte after it, any
// other byte alone and folded.
std::vector<std::string> Characters(std::string_view text, const LeadBytes& lead,
                                    std::vector<std::size_t>* starts = nullptr) {
  std::vector<std::string> characters;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (starts) starts->push_back(i);
    if (lead.IsLead(text[i]) && i + 1 < text.size()) {
      characters.emplace_back(text.substr(i++, 2));
    } else {
      const char c = text[i];
      characters.emplace_back(1, (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c);
    }
  }
  return characters;
}

// What the search must find in a code page of two-byte characters: the needle's characters
// equal to the content's from one of its characters on, no NUL among them. A needle that ends
// in a lead byte would end inside a character, and is found nowhere. The context after an
// occurrence is never cut inside a character.
std::vector<Found> ExpectedIn(std::string_view raw, std::string_view needle,
                              const LeadBytes& lead) {
  const std::string content = PlainTextMode(raw);
  std::vector<Found> found;
  std::vector<std::size_t> starts;
  const std::vector<std::string> have = Characters(content, lead, &starts);
  const std::vector<std::string> want = Characters(needle, lead);
  if (!want.empty() && want.back().size() == 1 && lead.IsLead(want.back()[0])) return found;
  if (needle.find('\0') != std::string_view::npos) return found;
  for (std::size_t k = 0; k + want.size() <= have.size() && k < have.size(); ++k) {
    if (!std::equal(want.begin(), want.end(), have.begin() + k)) continue;
    const std::size_t p = starts[k];
    const std::size_t from = p > kContextWidth ? p - kContextWidth : 0;
    // After it, whole characters only, as many as the width holds.
    std::string after;
    for (std::size_t i = k + want.size(); i < have.size(); ++i) {
      const std::size_t size = (i + 1 < starts.size() ? starts[i + 1] : content.size()) - starts[i];
      if (after.size() + size > kContextWidth || (size == 1 && lead.IsLead(content[starts[i]])))
        break;
      after += content.substr(starts[i], size);
    }
    found.push_back({p, content.substr(from, p - from), content.substr(p, needle.size()), after});
  }
  return found;
}

// Shift JIS: the search text 'a' is not found in the trail byte of katakana A (83 41), nor is
// katakana A found in katakana DI (83 61), whose trail byte is the letter folded.
TEST(TwoByteOccurrences, MatchesStartWithACharacterAndTrailBytesNeverFold) {
  const LeadBytes lead = Cp932();
  TempFile file("\x83\x41 a \x83\x61 A \x83\x83\x41");
  for (const bool lazy : {true, false}) {
    std::vector<std::uint64_t> positions;
    for (const Found& f : Search(file.path(), "a", lazy, lead)) positions.push_back(f.position);
    // The last byte, 41, stands alone after the character 83 83: it is the letter.
    EXPECT_EQ(positions, (std::vector<std::uint64_t>{3, 8, 12})) << lazy;
    positions.clear();
    for (const Found& f : Search(file.path(), "\x83\x41", lazy, lead))
      positions.push_back(f.position);
    EXPECT_EQ(positions, (std::vector<std::uint64_t>{0})) << lazy;  // not DI, nor 83 | 83 41
    // With no lead bytes, the bytes as ever.
    EXPECT_EQ(Search(file.path(), "a", lazy).size(), 5u) << lazy;
  }
}

TEST(TwoByteOccurrences, AgreeWithTheCharactersInBothModesAcrossParts) {
  const LeadBytes lead = Cp932();
  std::mt19937 rng(932);
  for (int round = 0; round < 300; ++round) {
    // Runs of lead bytes, CR LF and the letters a trail byte may be.
    const std::string raw =
        RandomText(rng, rng() % 1500, round % 4 ? "\x83\x83" "aA\r\nb" : "\x83" "aA\r\nb\x1a");
    std::string needle = RandomText(rng, 1 + rng() % 3, "\x83" "aAb");
    TempFile file(raw);
    ASSERT_EQ(Search(file.path(), needle, true, lead), ExpectedIn(raw, needle, lead)) << round;
    ASSERT_EQ(Search(file.path(), needle, false, lead), ExpectedIn(raw, needle, lead)) << round;
    needle = RandomText(rng, rng() % 3, "\x83" "a\r\n");  // with an LF, or empty: translated only
    ASSERT_EQ(Search(file.path(), needle, false, lead), ExpectedIn(raw, needle, lead)) << round;
  }
  // Files of several parts whose first occurrence comes late, so that the window slides over
  // runs of lead bytes longer than the context it keeps. Each run ends in a candidate for the
  // byte search, 83 41 61, which is one only where the run's length is odd: up to the third
  // part, none is.
  constexpr std::size_t kPart = ContentStream::kPartSize;
  for (const std::size_t size : {3 * kPart + 77, 4 * kPart + 33333}) {
    std::string raw;
    while (raw.size() < size) {
      const std::size_t odd = raw.size() > 2 * kPart ? rng() % 2 : 0;
      // The run starts a character.
      raw += RandomText(rng, 50 + rng() % 100, "\x83\x95" "b\r\n") + "b";
      raw += std::string(1500 + 2 * (rng() % 2) + odd, '\x83') + "\x41" "ab";
    }
    TempFile file(raw);
    const std::string needle = "\x83\x41" "a";
    const std::vector<Found> expected = ExpectedIn(raw, needle, lead);
    ASSERT_FALSE(expected.empty());
    ASSERT_GT(expected.front().position, 2 * kPart);
    EXPECT_EQ(Search(file.path(), needle, true, lead), expected) << size;
    EXPECT_EQ(Search(file.path(), needle, false, lead), expected) << size;
  }
}

}  // namespace
