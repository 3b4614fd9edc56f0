#include "search/file_search.h"

#include <memory>
#include <new>

#include "console/console.h"
#include "search/file_reader.h"
#include "search/occurrences.h"
#include "search/scanner.h"

namespace {

constexpr int kEscKey = 27;
constexpr std::string_view kPrompt =
    "\n\n(S) to skip this file; (Esc) to stop searching; any other key to continue: ";

// What BeginSearch sets up for the run.
struct RunSearchSetup {
  explicit RunSearchSetup(const std::string& text)
      : scanner(text), lazyTextMode(!text.empty() && text.find('\n') == std::string::npos) {}

  Scanner scanner;
  // Whether files are read in the lazy text mode: only for a text that is not empty and holds
  // no LF (see ContentStream).
  bool lazyTextMode;
  std::string buffer;  // one buffer serves every file in turn
};

std::unique_ptr<RunSearchSetup> setup;

}  // namespace

void BeginSearch() {
  setup.reset();
  setup = std::make_unique<RunSearchSetup>(searchSettings.searchText);
}

std::string_view UpToNul(std::string_view segment) {
  return segment.substr(0, segment.find('\0'));
}

void SearchFile(const std::string& path, bool knownRegular) {
  try {
    ContentStream content(setup->buffer);
    if (content.Open(path, knownRegular, setup->lazyTextMode) != OpenResult::Opened) return;
    const MatchDecision decision = ScanBuffer(path, content);
    searchTally.keepGoing = decision != MatchDecision::Stop;
  } catch (const std::bad_alloc&) {
    // Out of memory in this file: what it showed stays shown and counted, and the walk goes
    // on with the next one.
  }
}

MatchDecision ScanBuffer(const std::string& path, ContentStream& content) {
  const std::uint64_t startingCount = searchTally.occurrences;
  ClearScreen();
  WritePlain(InertText(path));
  Occurrences occurrences(content, setup->scanner);
  MatchDecision decision = MatchDecision::Continue;
  std::uint64_t position;
  MatchView view;
  while (decision == MatchDecision::Continue) {
    const Occurrences::Step step = occurrences.Next(position, view);
    if (step == Occurrences::Step::Done) break;
    if (step == Occurrences::Step::Working) {
      RefreshScreen();
      continue;
    }
    if (searchTally.occurrences == startingCount) ++searchTally.filesFound;
    ++searchTally.occurrences;
    decision = ShowMatch(view, position, path);
  }
  return decision;
}

MatchDecision DecisionForKey(int key) {
  const int upper = (key >= 'a' && key <= 'z') ? key - ('a' - 'A') : key;
  if (upper == kEscKey) return MatchDecision::Stop;
  if (upper == 'S') return MatchDecision::SkipFile;
  return MatchDecision::Continue;
}

std::string MatchHeader(const std::string& path, std::uint64_t position) {
  return "\rFound in " + path + " - position " + std::to_string(position) + ":\n\n";
}

MatchDecision ShowMatch(const MatchView& view, std::uint64_t position, const std::string& path) {
  WritePlain(MatchHeader(InertText(path), position));
  WriteColored(kContextAttribute, UpToNul(view.before));
  WriteColored(kMatchAttribute, UpToNul(view.match));
  WriteColored(kContextAttribute, UpToNul(view.after));

  // Nothing read ahead outlives a prompt: the files are closed while the user decides, and
  // read again when their turn comes.
  DropReadAhead();
  DiscardPendingKeys();
  WritePlain(kPrompt);
  const MatchDecision decision = DecisionForKey(ReadKey());
  if (decision == MatchDecision::Continue) ClearScreen();
  return decision;
}
