// The match report: what the user sees of a file's search, and the key that answers each
// match. The scan hands it the path and each occurrence and takes its decision back; it is the
// one piece of the search that talks to the console.
#ifndef QZ_SEARCH_MATCH_REPORT_H_
#define QZ_SEARCH_MATCH_REPORT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "search/file_reads.h"
#include "search/lazy_text_view.h"
#include "search/search_state.h"

// Console attributes (see console_attribute.h) of the two colours a match report uses.
inline constexpr std::uint16_t kContextAttribute = 14;  // bright yellow on black
inline constexpr std::uint16_t kMatchAttribute = 128;   // black on grey

// Clears the window and shows `path` alone on the top line, where it stays while the file is
// scanned; the first match's header is written over it.
void ShowPathLine(const std::string& path);

// Lets the screen catch up with what was written, while a long scan finds nothing to report.
void KeepScreenCurrent();

// Shows the occurrence at `position` in the content of `path` with its context (DrawMatch),
// and asks for the key that answers it (AskAboutMatch).
MatchDecision ShowMatch(const MatchView& view, std::uint64_t position, const std::string& path,
                        FileReads* reads = nullptr);

// Writes the report of the occurrence at `position` in the content of `path`: its header and
// its context, everything but the prompt. Should memory run out for it, `reads` (when given)
// give back what they hold and the report is drawn again, on a cleared window; only when they
// held nothing, or it runs out again, does std::bad_alloc go on, with part of the report
// possibly written.
void DrawMatch(const MatchView& view, std::uint64_t position, const std::string& path,
               FileReads* reads = nullptr);

// Prompts for the key that answers the report just drawn and waits for it; DecisionForKey
// turns it into the decision, and on Continue the window is cleared. Before the prompt,
// `reads` (when given) close everything they opened or read ahead.
MatchDecision AskAboutMatch(FileReads* reads = nullptr);

// The decision for the key code `key` (as ReadKey returns it): S (either case) gives
// SkipFile, Esc gives Stop, any other code, -1 included, gives Continue.
MatchDecision DecisionForKey(int key);

// The header line of a match report: "\rFound in <path> - position <position>:\n\n". The CR
// puts it over the path line for the first match of a file.
std::string MatchHeader(const std::string& path, std::uint64_t position);

// The display text of one context segment: `segment` up to its first NUL byte.
std::string_view UpToNul(std::string_view segment);

#endif  // QZ_SEARCH_MATCH_REPORT_H_
