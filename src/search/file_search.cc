#include "search/file_search.h"

#include <algorithm>

#include "search/scanner.h"

namespace {

constexpr int kEscKey = 27;
constexpr std::string_view kPrompt =
    "\n\n(S) to skip this file; (Esc) to stop searching; any other key to continue: ";

// The scanner for the run's search text, built once.
const Scanner& SearchTextScanner() {
  static Scanner scanner(searchSettings.searchText);
  if (scanner.needle() != searchSettings.searchText) scanner = Scanner(searchSettings.searchText);
  return scanner;
}

// One buffer serves every file in turn.
std::string& ContentBuffer() {
  static std::string buffer;
  return buffer;
}

}  // namespace

std::string_view UpToNul(std::string_view segment) {
  return segment.substr(0, segment.find('\0'));
}

void SearchFile(const std::string& path, bool knownRegular) {
  ContentStream content(ContentBuffer());
  if (content.Open(path, knownRegular) != OpenResult::Opened) return;
  const MatchDecision decision = ScanBuffer(path, content);
  searchTally.keepGoing = decision != MatchDecision::Stop;
}

MatchDecision ScanBuffer(const std::string& path, ContentStream& content) {
  const std::uint64_t startingCount = searchTally.occurrences;
  ClearScreen();
  WritePlain(path);
  const Scanner& scanner = SearchTextScanner();
  const std::size_t m = scanner.needle().size();
  MatchDecision decision = MatchDecision::Continue;
  std::size_t from = 0;  // in the window: where the next occurrence may start
  while (decision == MatchDecision::Continue) {
    const std::string_view window = content.window();
    const std::size_t at = scanner.FindNext(window, from);
    // An occurrence is shown once the context after it is in the window too.
    if (at != std::string_view::npos &&
        (content.atEnd() || window.size() - at >= m + kContextWidth)) {
      if (searchTally.occurrences == startingCount) ++searchTally.filesFound;
      ++searchTally.occurrences;
      decision = ShowMatch(window, at, content.windowStart() + at, path);
      from = at + 1;
      continue;
    }
    if (content.atEnd()) break;
    // Slide on, keeping what a later occurrence and the context before it may still need.
    std::size_t next = at;
    if (at == std::string_view::npos)
      next = (m == 0 || window.size() < m) ? from : std::max(from, window.size() - m + 1);
    const std::size_t keep = next > kContextWidth ? next - kContextWidth : 0;
    content.Advance(keep);
    from = next - keep;
    RefreshScreen();
  }
  return decision;
}

MatchDecision ShowMatch(std::string_view window, std::size_t at, std::uint64_t position,
                        const std::string& path) {
  WritePlain("\rFound in " + path + " - position " + std::to_string(position) + ":\n\n");

  const std::size_t before = at > kContextWidth ? at - kContextWidth : 0;
  const std::size_t matchEnd = std::min(window.size(), at + searchSettings.searchText.size());
  const std::size_t afterEnd = std::min(window.size(), matchEnd + kContextWidth);
  WriteColored(kContextAttribute, UpToNul(window.substr(before, at - before)));
  WriteColored(kMatchAttribute, UpToNul(window.substr(at, matchEnd - at)));
  WriteColored(kContextAttribute, UpToNul(window.substr(matchEnd, afterEnd - matchEnd)));

  DiscardPendingKeys();
  WritePlain(kPrompt);
  const int key = ReadKey();
  const int upper = (key >= 'a' && key <= 'z') ? key - ('a' - 'A') : key;
  if (upper == kEscKey) return MatchDecision::Stop;
  if (upper == 'S') return MatchDecision::SkipFile;
  ClearScreen();
  return MatchDecision::Continue;
}
