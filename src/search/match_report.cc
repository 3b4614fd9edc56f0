#include "search/match_report.h"

#include <cassert>

#include "console/ascii.h"
#include "console/console.h"
#include "console/key_codes.h"

void ConsoleReport::FileOpened(const std::string& path) {
  drawing_ = shown_ = false;
  ClearScreen();
  std::string scratch;  // only a path that needs a change costs memory of its own
  WritePlain(InertText(path, scratch));
}

void ConsoleReport::StillScanning() { RefreshScreen(); }

std::string_view UpToNul(std::string_view segment) {
  return segment.substr(0, segment.find('\0'));
}

MatchDecision DecisionForKey(int key) {
  assert(key >= -1 && key <= 255 && "a key code as ReadKey returns it");
  if (key == kEscKey) return MatchDecision::Stop;
  if (key >= 0 && FoldAscii(static_cast<unsigned char>(key)) == 's')
    return MatchDecision::SkipFile;
  return MatchDecision::Continue;
}

void ConsoleReport::ShowMatch(const std::string& path, std::uint64_t position,
                              const MatchView& view) {
  // What a report cut short left on the window goes before the report is drawn again.
  if (drawing_) ClearScreen();
  drawing_ = true;
  shown_ = false;
  WritePlain(MatchHeader(InertText(path), position));
  WriteColored(kContextAttribute, UpToNul(view.before));
  WriteColored(kMatchAttribute, UpToNul(view.match));
  WriteColored(kContextAttribute, UpToNul(view.after));
  drawing_ = false;
  shown_ = true;
}

MatchDecision ConsoleReport::AskAboutMatch() {
  assert(shown_ && "AskAboutMatch answers the report ShowMatch has just drawn");
  shown_ = false;
  DiscardPendingKeys();
  WritePlain(kMatchPrompt);
  const MatchDecision decision = DecisionForKey(ReadKey());
  if (decision == MatchDecision::Continue) ClearScreen();
  return decision;
}
