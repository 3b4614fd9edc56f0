// Reading the command line: `qz <file(s)> <search-text> [/s]`.
#ifndef QZ_APP_COMMAND_LINE_H_
#define QZ_APP_COMMAND_LINE_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "search/program_texts.h"  // kUsageLine, for the caller that shows it
#include "search/search_state.h"

// What the command line asks for: where the walk starts, and the settings of the run as the
// driver puts them in place.
struct SearchRequest {
  std::string root;  // the directory the walk starts in, no trailing separator
  SearchSettings settings;
};

// Reads the user's arguments (the program name excluded). Every option (see IsOption) turns
// recursion on when its second character is a lower-case 's'; options before the file spec
// are skipped; the argument after the file spec is the search text, whatever it begins with,
// and later ones are ignored. Returns nothing when no file spec or no search text is left: the
// caller shows the usage line.
std::optional<SearchRequest> ParseCommandLine(const std::vector<std::string_view>& args);

#endif  // QZ_APP_COMMAND_LINE_H_
