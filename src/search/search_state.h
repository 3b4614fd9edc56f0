// The two process-wide records of a run and the outcome of one match report.
#ifndef QZ_SEARCH_SEARCH_STATE_H_
#define QZ_SEARCH_SEARCH_STATE_H_

#include <cstdint>
#include <string>

// What the user asked for. Written once by the driver before the walk, read-only afterwards.
struct SearchSettings {
  std::string searchText;   // exactly as given on the command line, any length
  bool recursive = false;   // descend into subdirectories
  std::string namePattern;  // wildcard pattern for file names (name and extension together)
};

// The state of the run. The file search updates it; the walk and the driver read it.
struct SearchTally {
  bool keepGoing = true;         // cleared when the user stops the search
  std::uint64_t occurrences = 0; // matches found so far, each counted before it is shown
  std::uint64_t filesFound = 0;  // files with at least one match
};

enum class MatchDecision { Continue = 0, Stop = 1, SkipFile = 2 };

extern SearchSettings searchSettings;
extern SearchTally searchTally;

#endif  // QZ_SEARCH_SEARCH_STATE_H_
