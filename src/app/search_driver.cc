#include "app/search_driver.h"

#include <algorithm>
#include <new>
#include <vector>

#include "app/command_line.h"
#include "app/dir_listing.h"
#include "app/path_rules.h"
#include "app/wildcard.h"
#include "console/console.h"
#include "search/file_reads.h"
#include "search/file_search.h"
#include "search/match_report.h"
#include "search/search_sink.h"
#include "search/search_state.h"

namespace {

const char* PluralEnding(std::uint64_t count) { return count == 1 ? "" : "s"; }

// One directory of the walk whose subdirectories are still to be walked.
struct PendingLevel {
  std::string path;
  std::string resolved;             // as ResolveDirectory gives it
  DirectoryListing subdirectories;  // its directories alone, in listing order
  std::size_t next = 0;             // the first one not walked yet
};

// The sink the walk hands the file search: `shown`, with what a prompt asks of the reads the
// walk owns. Nothing read ahead outlives a prompt: the files are closed while the user decides,
// and read again when their turn comes. A report that memory cut short is shown again once the
// reads have given back what they held for reading ahead.
class ReadsAroundPrompts {
 public:
  ReadsAroundPrompts(const SearchSink& shown, FileReads& reads) : shown_(shown), reads_(reads) {}

  bool AsksAboutMatches() const { return shown_.AsksAboutMatches(); }
  void FileOpened(const std::string& path) { shown_.FileOpened(path); }
  void StillScanning() { shown_.StillScanning(); }
  void ShowMatch(const std::string& path, std::uint64_t position, const MatchView& view) {
    try {
      shown_.ShowMatch(path, position, view);
    } catch (const std::bad_alloc&) {
      if (!reads_.GiveBackMemory()) throw;
      shown_.ShowMatch(path, position, view);
    }
  }
  MatchDecision AskAboutMatch() {
    reads_.BeforePrompt();
    return shown_.AskAboutMatch();
  }

 private:
  const SearchSink shown_;
  FileReads& reads_;
};

// What the walk keeps from one directory to the next.
struct Walk {
  Walk(FileReads& r, const LeadBytes& lead, SearchSetup& search, const SearchSink& shown)
      : reads(r), leadBytes(lead), names(searchSettings.namePattern), setup(search),
        aroundPrompts(shown, r), sink(aroundPrompts) {}
  FileReads& reads;
  const LeadBytes& leadBytes;  // of the code page names are spelled in
  const NamePattern names;  // the files to search, read once for every name listed
  EnteredDirectories entered;  // each searched once, under the first path that reaches it
  std::vector<PendingLevel> pending;
  std::string path;  // the path of the file being searched, composed in place for each file
  SearchSetup& setup;
  ReadsAroundPrompts aroundPrompts;
  const SearchSink sink;  // of aroundPrompts
};

// States the files of one directory to the reads for the time they are searched; whatever was
// read ahead and not searched is closed when the walk leaves them, also on Esc.
class FileReadsGuard {
 public:
  FileReadsGuard(FileReads& reads, const std::string& directory, std::vector<PlannedFile> files,
                 OpenDirectory opened)
      : reads_(reads) {
    reads_.Plan(directory, std::move(files), std::move(opened));
  }
  ~FileReadsGuard() { reads_.End(); }
  FileReadsGuard(const FileReadsGuard&) = delete;
  FileReadsGuard& operator=(const FileReadsGuard&) = delete;

 private:
  FileReads& reads_;
};

// Searches the matching files of `directory` and, when the walk is recursive, puts the
// directory's subdirectories on the walk's pending stack. `expected` is the directory's
// resolved path as the walk expects it (a subdirectory its parent's listing saw as no link),
// with the serial number that listing gave it; empty and 0 when it must be resolved (the root,
// and directories reached through a link). Whatever
// is at `directory` when it is entered is what counts: a directory already entered, reached
// again through a link or swapped for one since its parent was listed, is not entered again.
// When memory runs out, the rest of the directory is passed over.
void EnterDirectory(const std::string& directory, std::string_view expected,
                    std::uint64_t expectedSerial, Walk& walk) {
  try {
    DirectoryListing listing;
    OpenDirectory opened;
    EnterRequest request{walk.entered, expected, expectedSerial};
    if (!ListDirectoryOnce(directory, request, listing, &opened, walk.leadBytes)) return;
    std::string& resolved = request.resolved;

    // The plan, the reads and the paths all refer to the listing's names. The reads keep the
    // plan, and give the walk its files in turn.
    std::vector<PlannedFile> files;
    files.reserve(listing.entries.size());
    for (const DirectoryEntry& entry : listing.entries) {
      RefreshScreen();
      if (entry.isDirectory || !walk.names.Matches({entry.name, entry.nameSize})) continue;
      files.push_back({entry.name, entry.nameSize, entry.isRegularFile});
    }
    if (!files.empty()) {
      std::string& path = walk.path;
      path = JoinPath(directory, {});
      const std::size_t prefix = path.size();
      const FileReadsGuard planned(walk.reads, directory, std::move(files), std::move(opened));
      while (const PlannedFile* const file = walk.reads.NextFile()) {
        RefreshScreen();
        path.resize(prefix);
        path.append(file->name, file->nameSize);
        SearchFile(walk.setup, FileOpener{path, false, &walk.reads}, walk.sink);
        if (!searchTally.keepGoing) return;
      }
    }
    if (!searchSettings.recursive) return;
    listing.KeepDirectories();
    if (!listing.entries.empty())
      walk.pending.push_back({directory, std::move(resolved), std::move(listing), 0});
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace

// The walk keeps its pending directories on a stack of its own rather than on the call stack,
// so that the deepest tree costs a few bytes of call stack and one small record per level.
void SearchDirectory(const std::string& directory, FileReads& reads, const LeadBytes& leadBytes,
                     SearchSetup& setup, const SearchSink& sink) {
  Walk walk(reads, leadBytes, setup, sink);
  EnterDirectory(directory, {}, 0, walk);
  while (!walk.pending.empty() && searchTally.keepGoing) {
    PendingLevel& top = walk.pending.back();
    if (top.next == top.subdirectories.entries.size()) {
      walk.pending.pop_back();
      continue;
    }
    RefreshScreen();
    std::string child;
    std::string resolved;
    std::uint64_t serial = 0;
    try {
      const std::string_view name = top.subdirectories.Name(top.next);
      const bool isLink = top.subdirectories.entries[top.next].isLink;
      serial = top.subdirectories.Serial(top.next++);
      child = JoinPath(top.path, name);
      if (!isLink) resolved = JoinPath(top.resolved, name);
    } catch (const std::bad_alloc&) {
      continue;
    }
    // May add to the pending stack: `top` is stale after this.
    EnterDirectory(child, resolved, serial, walk);
  }
}

std::string ComposeSummary(std::uint64_t filesFound, std::uint64_t occurrences,
                           const std::string& searchText) {
  return "\n\nSearch complete\n\n" + std::to_string(filesFound) + " file" +
         PluralEnding(filesFound) + " found containing the text \"" + searchText + "\"\n\n" +
         std::to_string(occurrences) + " occurrence" + PluralEnding(occurrences) +
         " of the text \"" + searchText + "\"\n\n";
}

int RunSearch(int argc, char** argv, ReadWay way) {
  const ConsoleSession console;
  const std::vector<std::string_view> args(argv + std::min(argc, 1), argv + argc);
  const std::optional<SearchRequest> request = ParseCommandLine(args);
  if (!request) {
    WritePlain(kUsageLine);
    return 0;
  }
  searchSettings = request->settings;

  try {
    // One code page for the whole run: the search text's and the names'.
    const LeadBytes leadBytes = TextLeadBytes();
    SearchSetup setup(searchSettings, leadBytes);
    FileReads reads(way);
    // With no one to see a report or answer it, the run only counts.
    ConsoleReport console;
    CountingSink counting;
    const SearchSink sink = ConsoleUnattended() ? SearchSink(counting) : SearchSink(console);
    SearchDirectory(request->root, reads, leadBytes, setup, sink);
  } catch (const std::bad_alloc&) {
    // Not even the run's setup fitted: nothing was searched, and the summary says so.
  }

  // The search text is shown inert, as paths are: a CR or BS in it must not draw over the
  // counts.
  WritePlain(ComposeSummary(searchTally.filesFound, searchTally.occurrences,
                            InertText(searchSettings.searchText)));
  return 0;
}
