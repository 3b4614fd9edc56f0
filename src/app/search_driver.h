// The tool's entry and outer loop: command line, tree walk, summary.
#ifndef QZ_APP_SEARCH_DRIVER_H_
#define QZ_APP_SEARCH_DRIVER_H_

#include <cstdint>
#include <string>

#include "search/code_page.h"
#include "search/file_reads.h"
#include "search/file_search.h"
#include "search/search_sink.h"

// The whole run: reads the arguments (argv[0] is the program), searches, prints the summary.
// Files are read the `way` given (the tool itself reads the adaptive way). Returns the exit
// code, always 0.
int RunSearch(int argc, char** argv, ReadWay way = ReadWay::Adaptive);

// Searches the files of `directory` whose names match searchSettings.namePattern, in name
// order, then, when searchSettings.recursive is set, each subdirectory the same way, depth
// first. Stops taking entries as soon as searchTally.keepGoing is cleared. A directory this
// walk has already entered (reached again through a link) is not entered again, nor listed.
// A directory or file in which memory runs out is passed over, and the walk goes on. The files
// are opened through `reads`. Names are spelled in the code page whose lead bytes `leadBytes`
// are (none: byte by byte), which the name order follows (ListDirectory). Each file is searched
// with `setup` and reported to `sink`; before the sink is asked about a match, the reads close
// everything they opened or read ahead (FileReads::BeforePrompt).
void SearchDirectory(const std::string& directory, FileReads& reads, const LeadBytes& leadBytes,
                     SearchSetup& setup, const SearchSink& sink);

#endif  // QZ_APP_SEARCH_DRIVER_H_
