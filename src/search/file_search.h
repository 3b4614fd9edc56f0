// Searching one file and reporting each match to the user.
#ifndef QZ_SEARCH_FILE_SEARCH_H_
#define QZ_SEARCH_FILE_SEARCH_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "console/console.h"
#include "search/content_stream.h"
#include "search/search_state.h"

inline constexpr ConsoleAttribute kContextAttribute = 14;  // bright yellow on black
inline constexpr ConsoleAttribute kMatchAttribute = 128;   // black on grey

// Loads the file at `path` (a regular file, in text mode) and scans it for the search text.
// `knownRegular` says the directory listing saw a regular file there. A file that cannot be
// opened or read is passed over in silence: nothing is shown or counted. After a file that
// opened, searchTally.keepGoing is false exactly when the user chose to stop.
void SearchFile(const std::string& path, bool knownRegular = false);

// Clears the window, shows `path` on the top line, then reports every occurrence of the search
// text in the content (overlapping ones included) until the end, or until the user skips the
// file or stops. Each occurrence is counted in searchTally before it is shown. Returns the
// decision that ended the scan, Continue when it ran to the end.
MatchDecision ScanBuffer(const std::string& path, ContentStream& content);

// Shows the occurrence at `position` in the content of `path` with its context, and waits for
// a key: S (either case) gives SkipFile, Esc gives Stop, any other key clears the window and
// gives Continue.
MatchDecision ShowMatch(const MatchView& view, std::uint64_t position, const std::string& path);

// The display text of one context segment: `segment` up to its first NUL byte.
std::string_view UpToNul(std::string_view segment);

#endif  // QZ_SEARCH_FILE_SEARCH_H_
