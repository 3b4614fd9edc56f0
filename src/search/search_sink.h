// What the search of a file reports to: each file it opens and each occurrence it finds. The
// search keeps the tally and the walk's course; the sink shows what it is told and, for a sink
// that asks, gives back the user's decision. The console's match report is one sink
// (match_report.h); a run that no one can see or answer counts with a CountingSink.
#ifndef QZ_SEARCH_SEARCH_SINK_H_
#define QZ_SEARCH_SEARCH_SINK_H_

#include <cassert>
#include <cstdint>
#include <string>

#include "search/lazy_text_view.h"
#include "search/search_state.h"

class SearchSink {
 public:
  virtual ~SearchSink() = default;

  // Whether the sink shows each occurrence with its context and asks about it. One that does
  // not is handed no context (ShowMatch gets empty segments) and is never asked: every
  // occurrence is counted and every file is scanned to its end, and nothing is done for a
  // prompt that never comes. The answer stays the same for the whole run.
  virtual bool AsksAboutMatches() const = 0;

  // A file opened and its scan begins; every occurrence reported until the next FileOpened is
  // one of `path`.
  virtual void FileOpened(const std::string& path) = 0;

  // The scan of a long content has searched a slice or read a part, and found nothing yet.
  virtual void StillScanning() = 0;

  // The occurrence at `position` of the content of `path`, with up to kContextWidth bytes of
  // context on each side (empty when the sink does not ask). The scan counts it once this
  // returns. Should memory run out, std::bad_alloc goes on, part of the report possibly
  // shown; ShowMatch may then be called again for the same occurrence, and shows it whole.
  virtual void ShowMatch(const std::string& path, std::uint64_t position,
                         const MatchView& view) = 0;

  // The decision about the occurrence just shown, typically the user's. Only for a sink that
  // asks, once after each ShowMatch that returned.
  virtual MatchDecision AskAboutMatch() = 0;
};

// The sink of a run that no one can see or answer: it shows nothing, never asks, and leaves
// the counting to the search's tally.
class CountingSink final : public SearchSink {
 public:
  bool AsksAboutMatches() const override { return false; }
  void FileOpened(const std::string&) override {}
  void StillScanning() override {}
  void ShowMatch(const std::string&, std::uint64_t, const MatchView&) override {}
  MatchDecision AskAboutMatch() override {
    assert(!"a sink that does not ask is never asked");
    return MatchDecision::Continue;
  }
};

#endif  // QZ_SEARCH_SEARCH_SINK_H_
