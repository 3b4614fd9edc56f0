#include "search/match_report.h"

#include <new>

#include "console/console.h"

namespace {

constexpr int kEscKey = 27;
constexpr std::string_view kPrompt =
    "\n\n(S) to skip this file; (Esc) to stop searching; any other key to continue: ";

}  // namespace

void ShowPathLine(const std::string& path) {
  ClearScreen();
  std::string scratch;  // only a path that needs a change costs memory of its own
  WritePlain(InertText(path, scratch));
}

void KeepScreenCurrent() { RefreshScreen(); }

std::string_view UpToNul(std::string_view segment) {
  return segment.substr(0, segment.find('\0'));
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

MatchDecision ShowMatch(const MatchView& view, std::uint64_t position, const std::string& path,
                        FileReads* reads) {
  DrawMatch(view, position, path, reads);
  return AskAboutMatch(reads);
}

void DrawMatch(const MatchView& view, std::uint64_t position, const std::string& path,
               FileReads* reads) {
  const auto draw = [&] {
    WritePlain(MatchHeader(InertText(path), position));
    WriteColored(kContextAttribute, UpToNul(view.before));
    WriteColored(kMatchAttribute, UpToNul(view.match));
    WriteColored(kContextAttribute, UpToNul(view.after));
  };
  try {
    draw();
  } catch (const std::bad_alloc&) {
    if (!reads || !reads->GiveBackMemory()) throw;
    ClearScreen();
    draw();
  }
}

MatchDecision AskAboutMatch(FileReads* reads) {
  // Nothing read ahead outlives a prompt: the files are closed while the user decides, and
  // read again when their turn comes.
  if (reads) reads->BeforePrompt();
  DiscardPendingKeys();
  WritePlain(kPrompt);
  const MatchDecision decision = DecisionForKey(ReadKey());
  if (decision == MatchDecision::Continue) ClearScreen();
  return decision;
}
