#include "search/file_search.h"

#include <memory>
#include <new>

#include "search/match_report.h"
#include "search/occurrences.h"
#include "search/scanner.h"

namespace {

// What BeginSearch sets up for the run.
struct RunSearchSetup {
  RunSearchSetup(const std::string& text, const LeadBytes& leadBytes)
      : scanner(text, leadBytes),
        lazyTextMode(!text.empty() && text.find('\n') == std::string::npos) {}

  Scanner scanner;
  // Whether files are read in the lazy text mode: only for a text that is not empty and holds
  // no LF (see ContentStream).
  bool lazyTextMode;
  std::string buffer;  // one buffer serves every file in turn
};

std::unique_ptr<RunSearchSetup> setup;

}  // namespace

void BeginSearch(const LeadBytes& leadBytes) {
  setup.reset();
  setup = std::make_unique<RunSearchSetup>(searchSettings.searchText, leadBytes);
}

void SearchFile(const std::string& path, FileReads* reads) {
  try {
    ContentStream content(setup->buffer);
    const FileOpener opener{path, false, reads};
    if (content.Open(opener, setup->lazyTextMode) != OpenResult::Opened) return;
    const MatchDecision decision = ScanBuffer(path, content, reads);
    searchTally.keepGoing = decision != MatchDecision::Stop;
  } catch (const std::bad_alloc&) {
    // Out of memory in this file: what it showed stays shown and counted, and the walk goes
    // on with the next one.
  }
}

MatchDecision ScanBuffer(const std::string& path, ContentStream& content, FileReads* reads) {
  const std::uint64_t startingCount = searchTally.occurrences;
  ShowPathLine(path);
  Occurrences occurrences(content, setup->scanner);
  MatchDecision decision = MatchDecision::Continue;
  std::uint64_t position;
  MatchView view;
  while (decision == MatchDecision::Continue) {
    const Occurrences::Step step = occurrences.Next(position, view);
    if (step == Occurrences::Step::Done) break;
    if (step == Occurrences::Step::Working) {
      KeepScreenCurrent();
      continue;
    }
    // An occurrence counts once its report is on the screen, before the key that answers it:
    // one whose report could not be drawn is not counted.
    DrawMatch(view, position, path, reads);
    if (searchTally.occurrences == startingCount) ++searchTally.filesFound;
    ++searchTally.occurrences;
    decision = AskAboutMatch(reads);
  }
  return decision;
}
