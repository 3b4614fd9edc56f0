// Searching one file: loading it, scanning it and keeping the tally; each file and each
// occurrence goes to the sink the caller hands over (search_sink.h).
#ifndef QZ_SEARCH_FILE_SEARCH_H_
#define QZ_SEARCH_FILE_SEARCH_H_

#include <cstdint>
#include <string>

#include "search/code_page.h"
#include "search/content_stream.h"
#include "search/file_reads.h"
#include "search/scanner.h"
#include "search/search_sink.h"
#include "search/search_state.h"

// What every file of a run is searched with, set up once by the driver: the scanner for
// `settings.searchText`, read in the code page whose lead bytes `leadBytes` are (none: byte by
// byte), the text mode every file is read in, and one content buffer that serves every file in
// turn. `settings` must be complete.
struct SearchSetup {
  SearchSetup(const SearchSettings& settings, const LeadBytes& leadBytes);

  const Scanner scanner;
  // Whether files are read in the lazy text mode: only for a text that is not empty and holds
  // no LF (see ContentStream).
  const bool lazyTextMode;
  std::string buffer;
};

// Loads the file `file` opens (a regular file, in text mode) and scans it for the search text,
// reporting to `sink`. With reads, `file` is the one of their plan whose turn it is
// (FileReads::NextFile) and is opened through them (FileOpener). A file that
// cannot be opened or read is passed over in silence: nothing is reported or counted; so is
// the rest of a file for which memory ran out. After a file that opened, searchTally.keepGoing
// is false exactly when the sink's decision was to stop.
void SearchFile(SearchSetup& setup, const FileOpener& file, const SearchSink& sink);

// Reports the file `path` to `sink` (FileOpened), then every occurrence of the search text in
// its content (overlapping ones included) until the end, or until the sink's decision skips
// the file or stops. Each occurrence is counted in searchTally once ShowMatch has returned,
// before the sink is asked about it. Returns the decision that ended the scan, Continue when
// it ran to the end.
MatchDecision ReportOccurrences(const SearchSetup& setup, const std::string& path,
                                ContentStream& content, const SearchSink& sink);

#endif  // QZ_SEARCH_FILE_SEARCH_H_
