// Searching one file: loading it, scanning it and keeping the tally; each match goes to the
// match report (match_report.h).
#ifndef QZ_SEARCH_FILE_SEARCH_H_
#define QZ_SEARCH_FILE_SEARCH_H_

#include <cstdint>
#include <string>

#include "search/code_page.h"
#include "search/content_stream.h"
#include "search/file_reads.h"
#include "search/search_state.h"

// Sets up the run's search from searchSettings, which must be complete: the scanner for the
// search text, read in the code page whose lead bytes `leadBytes` are (none: byte by byte),
// and the text mode every file is read in. The driver calls it once before the walk; calling
// it again starts over with the settings as they are then.
void BeginSearch(const LeadBytes& leadBytes);

// Loads the file at `path` (a regular file, in text mode) and scans it for the search text.
// With `reads`, the file is the one of their plan whose turn it is (FileReads::NextFile) and is
// opened through them, and they are told of every prompt (FileReads::BeforePrompt). A file
// that cannot be
// opened or read is passed over in silence: nothing is shown or counted; so is the rest of a
// file for which memory ran out. After a file that opened, searchTally.keepGoing is false
// exactly when the user chose to stop. Needs BeginSearch.
void SearchFile(const std::string& path, FileReads* reads = nullptr);

// Clears the window, shows `path` on the top line, then reports every occurrence of the search
// text in the content (overlapping ones included) until the end, or until the user skips the
// file or stops. Each occurrence is counted in searchTally once its report is drawn, before the
// key that answers it is read. Returns the decision that ended the scan, Continue when it ran
// to the end. `reads`, when given, are told of every prompt, and give back their memory when
// it runs short. Needs BeginSearch.
MatchDecision ScanBuffer(const std::string& path, ContentStream& content,
                         FileReads* reads = nullptr);

#endif  // QZ_SEARCH_FILE_SEARCH_H_
