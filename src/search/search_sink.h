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

// A sink is any object with these members, handed over as a SearchSink made from it:
//
//   bool AsksAboutMatches() const
//     Whether the sink shows each occurrence with its context and asks about it. One that does
//     not is handed no context (ShowMatch gets empty segments) and is never asked: every
//     occurrence is counted and every file is scanned to its end, and nothing is done for a
//     prompt that never comes. Read once, when the SearchSink is made.
//   void FileOpened(const std::string& path)
//     A file opened and its scan begins; every occurrence reported until the next FileOpened
//     is one of `path`.
//   void StillScanning()
//     The scan of a long content has searched a slice or read a part, and found nothing yet.
//   void ShowMatch(const std::string& path, std::uint64_t position, const MatchView& view)
//     The occurrence at `position` of the content of `path`, with up to kContextWidth bytes of
//     context on each side (empty when the sink does not ask). The scan counts it once this
//     returns. Should memory run out, std::bad_alloc goes on, part of the report possibly
//     shown; ShowMatch may then be called again for the same occurrence, and shows it whole.
//   MatchDecision AskAboutMatch()
//     The decision about the occurrence just shown, typically the user's. Only for a sink that
//     asks, once after each ShowMatch that returned.
//
// A record of the sink's functions rather than an interface of virtual calls: the sanitizers
// check the object of a virtual call through a pipe, which fails where a test leaves no
// descriptor free. The sink must outlive the record.
class SearchSink {
 public:
  template <typename Sink>
  explicit SearchSink(Sink& sink)
      : sink_(&sink),
        asks_(sink.AsksAboutMatches()),
        fileOpened_([](void* s, const std::string& path) { Cast<Sink>(s).FileOpened(path); }),
        stillScanning_([](void* s) { Cast<Sink>(s).StillScanning(); }),
        showMatch_([](void* s, const std::string& path, std::uint64_t position,
                      const MatchView& view) { Cast<Sink>(s).ShowMatch(path, position, view); }),
        askAboutMatch_([](void* s) { return Cast<Sink>(s).AskAboutMatch(); }) {}

  bool AsksAboutMatches() const { return asks_; }
  void FileOpened(const std::string& path) const { fileOpened_(sink_, path); }
  void StillScanning() const { stillScanning_(sink_); }
  void ShowMatch(const std::string& path, std::uint64_t position, const MatchView& view) const {
    showMatch_(sink_, path, position, view);
  }
  MatchDecision AskAboutMatch() const {
    assert(asks_ && "a sink that does not ask is never asked");
    return askAboutMatch_(sink_);
  }

 private:
  template <typename Sink>
  static Sink& Cast(void* sink) {
    return *static_cast<Sink*>(sink);
  }

  void* sink_;
  bool asks_;
  void (*fileOpened_)(void*, const std::string&);
  void (*stillScanning_)(void*);
  void (*showMatch_)(void*, const std::string&, std::uint64_t, const MatchView&);
  MatchDecision (*askAboutMatch_)(void*);
};

// The sink of a run that no one can see or answer: it shows nothing, never asks, and leaves
// the counting to the search's tally.
class CountingSink {
 public:
  bool AsksAboutMatches() const { return false; }
  void FileOpened(const std::string&) {}
  void StillScanning() {}
  void ShowMatch(const std::string&, std::uint64_t, const MatchView&) {}
  MatchDecision AskAboutMatch() { return MatchDecision::Continue; }
};

#endif  // QZ_SEARCH_SEARCH_SINK_H_
