#include "app/search_driver.h"

#include <algorithm>
#include <new>
#include <set>
#include <vector>

#include "app/command_line.h"
#include "app/dir_listing.h"
#include "app/path_rules.h"
#include "app/wildcard.h"
#include "console/console.h"
#include "search/file_reader.h"
#include "search/file_search.h"
#include "search/search_state.h"

namespace {

const char* PluralEnding(std::uint64_t count) { return count == 1 ? "" : "s"; }

// One directory of the walk whose subdirectories are still to be walked.
struct PendingLevel {
  std::string path;
  std::vector<std::string> subdirectories;  // names, in listing order
  std::size_t next = 0;                     // the first one not walked yet
};

// Every directory the walk has entered. Links can lead to one directory along many paths (a
// loop back to an ancestor, or a lattice of links that would multiply at every level); it is
// searched once, under the first path the walk reaches it by.
using EnteredSet = std::set<DirectoryId>;

// States the files of one directory to the reader for the time they are searched; whatever
// was read ahead and not searched is closed when the walk leaves them, also on Esc.
class FileReadsGuard {
 public:
  FileReadsGuard(const std::string& directory, const std::vector<PlannedFile>& files) {
    PlanFileReads(directory, files);
  }
  ~FileReadsGuard() { EndFileReads(); }
  FileReadsGuard(const FileReadsGuard&) = delete;
  FileReadsGuard& operator=(const FileReadsGuard&) = delete;
};

// Searches the matching files of `directory` and, when the walk is recursive, puts the
// directory's subdirectories on `pending`. A directory already entered costs one look at its
// id and no listing. When memory runs out, the rest of the directory is passed over.
void EnterDirectory(const std::string& directory, EnteredSet& entered,
                    std::vector<PendingLevel>& pending) {
  try {
    DirectoryId id;
    if (!ReadDirectoryId(directory, id) || entered.count(id)) return;
    DirectoryListing listing;
    if (!ListDirectory(directory, listing)) return;
    if (!entered.insert(listing.id).second) return;

    std::vector<PlannedFile> files;
    for (const DirectoryEntry& entry : listing.entries) {
      RefreshScreen();
      if (entry.isDirectory || !MatchWildcard(searchSettings.namePattern, entry.name)) continue;
      files.push_back({JoinPath(directory, entry.name), entry.name, entry.isRegularFile});
    }
    const FileReadsGuard reads(directory, files);
    for (const PlannedFile& file : files) {
      RefreshScreen();
      SearchFile(file.path, file.knownRegular);
      if (!searchTally.keepGoing) return;
    }
    if (!searchSettings.recursive) return;
    PendingLevel level{directory, {}, 0};
    for (DirectoryEntry& entry : listing.entries) {
      if (entry.isDirectory) level.subdirectories.push_back(std::move(entry.name));
    }
    if (!level.subdirectories.empty()) pending.push_back(std::move(level));
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace

// The walk keeps its pending directories on a stack of its own rather than on the call stack,
// so that the deepest tree costs a few bytes of call stack and one small record per level.
void SearchDirectory(const std::string& directory) {
  EnteredSet entered;
  std::vector<PendingLevel> pending;
  EnterDirectory(directory, entered, pending);
  while (!pending.empty() && searchTally.keepGoing) {
    PendingLevel& top = pending.back();
    if (top.next == top.subdirectories.size()) {
      pending.pop_back();
      continue;
    }
    RefreshScreen();
    std::string child;
    try {
      child = JoinPath(top.path, top.subdirectories[top.next++]);
    } catch (const std::bad_alloc&) {
      continue;
    }
    EnterDirectory(child, entered, pending);  // may add to `pending`: `top` is stale now
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

  try {
    BeginSearch();
    SearchDirectory(request->root);
  } catch (const std::bad_alloc&) {
    // Not even the run's setup fitted: nothing was searched, and the summary says so.
  }

  // The search text is shown inert, as paths are: a CR or BS in it must not draw over the
  // counts.
  WritePlain(ComposeSummary(searchTally.filesFound, searchTally.occurrences,
                            InertText(searchSettings.searchText)));
  return 0;
}
