#include "app/search_driver.h"

#include <algorithm>
#include <set>
#include <vector>

#include "app/command_line.h"
#include "app/dir_listing.h"
#include "app/path_rules.h"
#include "app/wildcard.h"
#include "console/console.h"
#include "search/file_search.h"
#include "search/search_state.h"

namespace {

// Every directory the walk has entered. Links can lead to one directory along many paths (a
// loop back to an ancestor, or a lattice of links that would multiply at every level); it is
// searched once, under the first path the walk reaches it by.
std::set<DirectoryId> entered;

const char* PluralEnding(std::uint64_t count) { return count == 1 ? "" : "s"; }

}  // namespace

void SearchDirectory(const std::string& directory) {
  DirectoryListing listing;
  if (!ListDirectory(directory, listing)) return;
  if (!entered.insert(listing.id).second) return;

  for (const DirectoryEntry& entry : listing.entries) {
    RefreshScreen();
    if (entry.isDirectory || !MatchWildcard(searchSettings.namePattern, entry.name)) continue;
    SearchFile(JoinPath(directory, entry.name), entry.isRegularFile);
    if (!searchTally.keepGoing) return;
  }
  if (!searchSettings.recursive) return;
  for (const DirectoryEntry& entry : listing.entries) {
    RefreshScreen();
    if (!entry.isDirectory) continue;
    SearchDirectory(JoinPath(directory, entry.name));
    if (!searchTally.keepGoing) return;
  }
}

std::string ComposeSummary(std::uint64_t filesFound, std::uint64_t occurrences,
                           const std::string& searchText) {
  return "\n\nSearch complete\n\n" + std::to_string(filesFound) + " file" +
         PluralEnding(filesFound) + " found containing the text \"" + searchText + "\"\n\n" +
         std::to_string(occurrences) + " occurrence" + PluralEnding(occurrences) +
         " of the text \"" + searchText + "\"\n\n";
}

int RunSearch(int argc, char** argv) {
  const ConsoleSession console;
  const std::vector<std::string_view> args(argv + std::min(argc, 1), argv + argc);
  const std::optional<SearchRequest> request = ParseCommandLine(args);
  if (!request) {
    WritePlain(kUsageLine);
    return 0;
  }
  searchSettings.searchText = request->searchText;
  searchSettings.recursive = request->recursive;
  searchSettings.namePattern = request->namePattern;

  SearchDirectory(request->root);

  WritePlain(ComposeSummary(searchTally.filesFound, searchTally.occurrences,
                            searchSettings.searchText));
  return 0;
}
