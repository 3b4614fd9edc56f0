#include "search/file_search.h"

#include "search/occurrences.h"
#include "search/scanner.h"

namespace {

constexpr int kEscKey = 27;
constexpr std::string_view kPrompt =
    "\n\n(S) to skip this file; (Esc) to stop searching; any other key to continue: ";

// The scanner for the run's search text, built on first use: the settings are complete before
// the walk starts and do not change afterwards.
const Scanner& SearchTextScanner() {
  static const Scanner scanner(searchSettings.searchText);
  return scanner;
}

// Whether files can be read in the lazy text mode: the search text is not empty and holds no
// LF. Decided once, for the same reason.
bool LazyTextModeFits() {
  static const bool fits = !searchSettings.searchText.empty() &&
                           searchSettings.searchText.find('\n') == std::string::npos;
  return fits;
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
  if (content.Open(path, knownRegular, LazyTextModeFits()) != OpenResult::Opened) return;
  const MatchDecision decision = ScanBuffer(path, content);
  searchTally.keepGoing = decision != MatchDecision::Stop;
}

MatchDecision ScanBuffer(const std::string& path, ContentStream& content) {
  const std::uint64_t startingCount = searchTally.occurrences;
  ClearScreen();
  WritePlain(InertName(path));
  Occurrences occurrences(content, SearchTextScanner());
  MatchDecision decision = MatchDecision::Continue;
  std::uint64_t position;
  MatchView view;
  while (decision == MatchDecision::Continue && occurrences.Next(position, view)) {
    if (searchTally.occurrences == startingCount) ++searchTally.filesFound;
    ++searchTally.occurrences;
    decision = ShowMatch(view, position, path);
  }
  return decision;
}

MatchDecision ShowMatch(const MatchView& view, std::uint64_t position, const std::string& path) {
  WritePlain("\rFound in " + InertName(path) + " - position " + std::to_string(position) + ":\n\n");
  WriteColored(kContextAttribute, UpToNul(view.before));
  WriteColored(kMatchAttribute, UpToNul(view.match));
  WriteColored(kContextAttribute, UpToNul(view.after));

  DiscardPendingKeys();
  WritePlain(kPrompt);
  const int key = ReadKey();
  const int upper = (key >= 'a' && key <= 'z') ? key - ('a' - 'A') : key;
  if (upper == kEscKey) return MatchDecision::Stop;
  if (upper == 'S') return MatchDecision::SkipFile;
  ClearScreen();
  return MatchDecision::Continue;
}
