#include "search/file_search.h"

#include <algorithm>

#include "search/file_reader.h"
#include "search/scanner.h"
#include "search/text_mode.h"

namespace {

constexpr int kEscKey = 27;

// The scanner for the run's search text, built once.
const Scanner& SearchTextScanner() {
  static Scanner scanner(searchSettings.searchText);
  if (scanner.needle() != searchSettings.searchText) scanner = Scanner(searchSettings.searchText);
  return scanner;
}
constexpr std::string_view kPrompt =
    "\n\n(S) to skip this file; (Esc) to stop searching; any other key to continue: ";

}  // namespace

std::string_view UpToNul(std::string_view segment) {
  return segment.substr(0, segment.find('\0'));
}

void SearchFile(const std::string& path) {
  std::string content;
  if (ReadWholeFile(path, content) != ReadResult::Loaded) return;
  TranslateTextMode(content);
  const MatchDecision decision = ScanBuffer(path, content);
  searchTally.keepGoing = decision != MatchDecision::Stop;
}

MatchDecision ScanBuffer(const std::string& path, std::string_view content) {
  const std::uint64_t startingCount = searchTally.occurrences;
  ClearScreen();
  WritePlain(path);
  MatchDecision decision = MatchDecision::Continue;
  const Scanner& scanner = SearchTextScanner();
  for (std::size_t i = scanner.FindNext(content, 0);
       i != std::string_view::npos && decision == MatchDecision::Continue;
       i = scanner.FindNext(content, i + 1)) {
    if (searchTally.occurrences == startingCount) ++searchTally.filesFound;
    ++searchTally.occurrences;
    decision = ShowMatch(content, i, path);
  }
  return decision;
}

MatchDecision ShowMatch(std::string_view content, std::uint64_t position, const std::string& path) {
  WritePlain("\rFound in " + path + " - position " + std::to_string(position) + ":\n\n");

  const std::size_t at = static_cast<std::size_t>(position);
  const std::size_t before = at > kContextWidth ? at - kContextWidth : 0;
  const std::size_t matchEnd = std::min(content.size(), at + searchSettings.searchText.size());
  const std::size_t afterEnd = std::min(content.size(), matchEnd + kContextWidth);
  WriteColored(kContextAttribute, UpToNul(content.substr(before, at - before)));
  WriteColored(kMatchAttribute, UpToNul(content.substr(at, matchEnd - at)));
  WriteColored(kContextAttribute, UpToNul(content.substr(matchEnd, afterEnd - matchEnd)));

  DiscardPendingKeys();
  WritePlain(kPrompt);
  const int key = ReadKey();
  const int upper = (key >= 'a' && key <= 'z') ? key - ('a' - 'A') : key;
  if (upper == kEscKey) return MatchDecision::Stop;
  if (upper == 'S') return MatchDecision::SkipFile;
  ClearScreen();
  return MatchDecision::Continue;
}
