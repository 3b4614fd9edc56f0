// The match report: the sink (search_sink.h) that shows a file's search on the console and
// reads the key that answers each match. It is the one piece of the search that talks to the
// console.
#ifndef QZ_SEARCH_MATCH_REPORT_H_
#define QZ_SEARCH_MATCH_REPORT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "search/program_texts.h"
#include "search/lazy_text_view.h"
#include "search/search_sink.h"
#include "search/search_state.h"

// Console attributes (see console_attribute.h) of the two colours a match report uses.
inline constexpr std::uint16_t kContextAttribute = 14;  // bright yellow on black
inline constexpr std::uint16_t kMatchAttribute = 128;   // black on grey

class ConsoleReport {
 public:
  bool AsksAboutMatches() const { return true; }

  // Clears the window and shows `path` alone on the top line, where it stays while the file
  // is scanned; the first match's header is written over it.
  void FileOpened(const std::string& path);

  // Lets the screen catch up with what was written, while a long scan finds nothing.
  void StillScanning();

  // Writes the report of the occurrence: its header and its context, everything but the
  // prompt. A report drawn again after one that memory cut short starts on a cleared window.
  void ShowMatch(const std::string& path, std::uint64_t position, const MatchView& view);

  // Prompts for the key that answers the report just drawn and waits for it; DecisionForKey
  // turns it into the decision, and on Continue the window is cleared.
  MatchDecision AskAboutMatch();

 private:
  bool drawing_ = false;  // a ShowMatch began and has not finished
  bool shown_ = false;    // a report is drawn whole and not yet answered
};

// The decision for the key code `key` (as ReadKey returns it): S (either case) gives
// SkipFile, Esc gives Stop, any other code, -1 included, gives Continue.
MatchDecision DecisionForKey(int key);

// The display text of one context segment: `segment` up to its first NUL byte.
std::string_view UpToNul(std::string_view segment);

#endif  // QZ_SEARCH_MATCH_REPORT_H_
