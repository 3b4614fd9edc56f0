#include "search/file_search.h"

#include <new>

#include "search/occurrences.h"

SearchSetup::SearchSetup(const SearchSettings& settings, const LeadBytes& leadBytes)
    : scanner(settings.searchText, leadBytes),
      lazyTextMode(!settings.searchText.empty() &&
                   settings.searchText.find('\n') == std::string::npos) {}

void SearchFile(SearchSetup& setup, const FileOpener& file, const SearchSink& sink) {
  try {
    ContentStream content(setup.buffer);
    if (content.Open(file, setup.lazyTextMode) != OpenResult::Opened) return;
    const MatchDecision decision = ReportOccurrences(setup, file.path, content, sink);
    searchTally.keepGoing = decision != MatchDecision::Stop;
  } catch (const std::bad_alloc&) {
    // Out of memory in this file: what it showed stays shown and counted, and the walk goes
    // on with the next one.
  }
}

MatchDecision ReportOccurrences(const SearchSetup& setup, const std::string& path,
                                ContentStream& content, const SearchSink& sink) {
  const std::uint64_t startingCount = searchTally.occurrences;
  sink.FileOpened(path);
  Occurrences occurrences(content, setup.scanner);
  // A sink that never asks is shown no context: none is built.
  const bool asks = sink.AsksAboutMatches();
  MatchDecision decision = MatchDecision::Continue;
  std::uint64_t position = 0;
  MatchView view;
  while (decision == MatchDecision::Continue) {
    const Occurrences::Step step = asks ? occurrences.Next(position, view)
                                        : occurrences.Next(position);
    if (step == Occurrences::Step::Done) break;
    if (step == Occurrences::Step::Working) {
      sink.StillScanning();
      continue;
    }
    // An occurrence counts once its report is shown, before the decision about it: one whose
    // report could not be shown is not counted.
    sink.ShowMatch(path, position, view);
    if (searchTally.occurrences == startingCount) ++searchTally.filesFound;
    ++searchTally.occurrences;
    if (asks) decision = sink.AskAboutMatch();
  }
  return decision;
}
