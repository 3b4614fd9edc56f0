#include "app/search_driver.h"

#include <algorithm>
#include <deque>
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
#include "search/program_texts.h"
#include "search/search_sink.h"
#include "search/search_state.h"

namespace {

// One directory of the walk whose subdirectories are still to be walked.
struct PendingLevel {
  std::string path;
  std::string resolved;             // as ResolveDirectory gives it
  DirectoryListing subdirectories;  // its directories alone, in listing order
  std::size_t next = 0;             // the first one not walked yet
};

// A directory the walk has entered (listed, its subdirectories put on the pending stack) and
// whose files it has planned with the reads, but not searched yet: the first is being searched,
// those after it were listed ahead for the reads to read on into.
struct ListedDirectory {
  std::string path;
  DirectoryListing listing;  // the planned files' names live here
  std::size_t undoEnd = 0;   // the walk's changes up to entering it (Walk::undo)
};

// One change the walk made to its place when it entered a directory ahead of its turn, kept so
// that it can be taken back: the walk then stands as if it had never gone past the directory
// it is searching.
struct Undo {
  enum Kind { Advanced, Pushed, Popped, Entered } kind;
  PendingLevel popped = {};  // Popped: the level, whole
  std::string resolved = {};  // Entered: the directory's resolved path
};

struct Walk;
bool TakeBackListedAhead(Walk& walk);

// The sink the walk hands the file search: `shown`, with what a prompt asks of the reads the
// walk owns. Nothing read ahead outlives a prompt, listings included: the files are closed while
// the user decides, and read again when their turn comes, and the directories listed ahead are
// listed again. A report that memory cut short is shown again once the reads have given back
// what they held for reading ahead.
class ReadsAroundPrompts {
 public:
  ReadsAroundPrompts(const SearchSink& shown, FileReads& reads, Walk& walk)
      : shown_(shown), reads_(reads), walk_(walk) {}

  bool AsksAboutMatches() const { return shown_.AsksAboutMatches(); }
  void FileOpened(const std::string& path) { shown_.FileOpened(path); }
  void StillScanning() { shown_.StillScanning(); }
  void ShowMatch(const std::string& path, std::uint64_t position, const MatchView& view) {
    try {
      shown_.ShowMatch(path, position, view);
    } catch (const std::bad_alloc&) {
      const bool listingsGone = TakeBackListedAhead(walk_);
      const bool readsGone = reads_.GiveBackMemory();
      if (!listingsGone && !readsGone) throw;
      shown_.ShowMatch(path, position, view);
    }
  }
  MatchDecision AskAboutMatch() {
    TakeBackListedAhead(walk_);
    reads_.BeforePrompt();
    return shown_.AskAboutMatch();
  }

 private:
  const SearchSink shown_;
  FileReads& reads_;
  Walk& walk_;
};

// What the walk keeps from one directory to the next.
struct Walk {
  Walk(FileReads& r, const LeadBytes& lead, SearchSetup& search, const SearchSink& shown)
      : reads(r), leadBytes(lead), names(searchSettings.namePattern), setup(search),
        aroundPrompts(shown, r, *this), sink(aroundPrompts) {}
  FileReads& reads;
  const LeadBytes& leadBytes;  // of the code page names are spelled in
  const NamePattern names;  // the files to search, read once for every name listed
  EnteredDirectories entered;  // each searched once, under the first path that reaches it
  std::vector<PendingLevel> pending;
  std::deque<ListedDirectory> listed;  // planned with the reads, in order; the first is searched
  // The changes made since the first directory was entered, oldest first; undo[0] is change
  // number undoBase of the walk.
  std::deque<Undo> undo;
  std::size_t undoBase = 0;
  bool listAhead = true;  // memory ran short listing ahead: the rest of the run lists in turn
  std::string path;  // the path of the file being searched, composed in place for each file
  SearchSetup& setup;
  ReadsAroundPrompts aroundPrompts;
  const SearchSink sink;  // of aroundPrompts
};

// Takes the walk's changes back to change number `to`, the latest first.
void UndoTo(Walk& walk, std::size_t to) {
  while (walk.undoBase + walk.undo.size() > to) {
    Undo& change = walk.undo.back();
    switch (change.kind) {
      case Undo::Advanced: --walk.pending.back().next; break;
      case Undo::Pushed: walk.pending.pop_back(); break;
      case Undo::Popped: walk.pending.push_back(std::move(change.popped)); break;
      case Undo::Entered: walk.entered.erase(change.resolved); break;
    }
    walk.undo.pop_back();
  }
}

// The directories listed ahead of the one being searched are forgotten, with the reads' plans
// of them, and the walk stands where it stood when it entered that one. True when any was.
bool TakeBackListedAhead(Walk& walk) {
  if (walk.listed.empty()) return false;
  const bool any = walk.listed.size() > 1;
  walk.reads.ForgetAhead();
  UndoTo(walk, walk.listed.front().undoEnd);
  walk.listed.resize(1);
  return any;
}

// Notes a change, while directories are listed ahead (`ahead`) and it may be taken back.
void Note(Walk& walk, bool ahead, Undo change) {
  if (ahead) walk.undo.push_back(std::move(change));
}

// Enters `directory`: lists it, plans its matching files with the reads, and, when the walk is
// recursive, puts its subdirectories on the pending stack. `expected` is the directory's
// resolved path as the walk expects it (a subdirectory its parent's listing saw as no link),
// with the serial number that listing gave it; empty and 0 when it must be resolved (the root,
// and directories reached through a link). Whatever is at `directory` when it is entered is
// what counts: a directory already entered, reached again through a link or swapped for one
// since its parent was listed, is not entered again. When memory runs out, the directory is
// passed over; `ahead` (a directory listed before its turn) lets it throw instead, with every
// change noted, for the walk to take back and enter it again in its turn.
void EnterDirectory(const std::string& directory, std::string_view expected,
                    std::uint64_t expectedSerial, Walk& walk, bool ahead) {
  try {
    ListedDirectory listed{directory, {}, 0};
    DirectoryListing& listing = listed.listing;
    OpenDirectory opened;
    EnterRequest request{walk.entered, expected, expectedSerial};
    const std::size_t enteredBefore = walk.entered.size();
    const bool entered = ListDirectoryOnce(directory, request, listing, &opened, walk.leadBytes);
    if (walk.entered.size() > enteredBefore)
      Note(walk, ahead, {Undo::Entered, {}, request.resolved});
    if (!entered) return;

    // The plan, the reads and the paths all refer to the listing's names. The reads keep the
    // plan, and give the walk its files in turn.
    std::vector<PlannedFile> files;
    files.reserve(listing.entries.size());
    for (const DirectoryEntry& entry : listing.entries) {
      RefreshScreen();
      if (entry.isDirectory || !walk.names.Matches({entry.name, entry.nameSize})) continue;
      files.push_back({entry.name, entry.nameSize, entry.isRegularFile});
    }
    if (searchSettings.recursive) {
      DirectoryListing subdirectories = listing.Directories();
      if (!subdirectories.entries.empty()) {
        walk.pending.push_back(
            {directory, std::move(request.resolved), std::move(subdirectories), 0});
        Note(walk, ahead, {Undo::Pushed});
      }
    }
    listed.undoEnd = walk.undoBase + walk.undo.size();
    walk.listed.push_back(std::move(listed));
    try {
      walk.reads.Plan(directory, std::move(files), std::move(opened));
    } catch (...) {
      walk.listed.pop_back();
      throw;
    }
  } catch (const std::bad_alloc&) {
    if (ahead) throw;
  }
}

// Enters the next directory of the walk's order (depth first, each directory's subdirectories
// in their listing's order after its own files). False when there is none left.
bool EnterNext(Walk& walk, bool ahead) {
  while (!walk.pending.empty()) {
    PendingLevel& top = walk.pending.back();
    if (top.next == top.subdirectories.entries.size()) {
      Note(walk, ahead, {Undo::Popped, std::move(top)});
      walk.pending.pop_back();
      continue;
    }
    RefreshScreen();
    std::string child;
    std::string resolved;
    const std::string_view name = top.subdirectories.Name(top.next);
    const bool isLink = top.subdirectories.entries[top.next].isLink;
    const std::uint64_t serial = top.subdirectories.Serial(top.next);
    try {
      child = JoinPath(top.path, name);
      if (!isLink) resolved = JoinPath(top.resolved, name);
    } catch (const std::bad_alloc&) {
      if (ahead) throw;
      ++top.next;
      continue;
    }
    ++top.next;
    Note(walk, ahead, {Undo::Advanced});
    // May add to the pending stack: `top` is stale after this.
    EnterDirectory(child, resolved, serial, walk, ahead);
    return true;
  }
  return false;
}

// Lists the directories after the one being searched, and plans their files, for as long as
// the reads would read further ahead than the plan reaches. Memory running short takes back the
// directory it ran short in, and ends listing ahead for the run.
void ListAhead(Walk& walk) {
  while (walk.listAhead && walk.reads.WantsMore()) {
    const std::size_t from = walk.undoBase + walk.undo.size();
    try {
      if (!EnterNext(walk, true)) return;
    } catch (const std::bad_alloc&) {
      // What was listed ahead goes, to be listed again in its turn.
      UndoTo(walk, from);
      TakeBackListedAhead(walk);
      walk.listAhead = false;
      return;
    }
  }
}

// Searches the files of the first directory listed, then lets it go.
void SearchFirstListed(Walk& walk) {
  struct Done {
    ~Done() {
      walk.reads.End();
      walk.listed.pop_front();
      // The changes up to entering what is first now are never taken back.
      const std::size_t keep = walk.listed.empty() ? walk.undoBase + walk.undo.size()
                                                   : walk.listed.front().undoEnd;
      while (walk.undoBase < keep && !walk.undo.empty()) {
        walk.undo.pop_front();
        ++walk.undoBase;
      }
      if (walk.undo.empty()) walk.undoBase = keep;
    }
    Walk& walk;
  } done{walk};
  try {
    std::string& path = walk.path;
    path = JoinPath(walk.listed.front().path, {});
    const std::size_t prefix = path.size();
    while (const PlannedFile* const file = walk.reads.NextFile()) {
      ListAhead(walk);
      RefreshScreen();
      path.resize(prefix);
      path.append(file->name, file->nameSize);
      SearchFile(walk.setup, FileOpener{path, false, &walk.reads}, walk.sink);
      if (!searchTally.keepGoing) return;
    }
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace

// The walk keeps its pending directories on a stack of its own rather than on the call stack,
// so that the deepest tree costs a few bytes of call stack and one small record per level.
void SearchDirectory(const std::string& directory, FileReads& reads, const LeadBytes& leadBytes,
                     SearchSetup& setup, const SearchSink& sink) {
  Walk walk(reads, leadBytes, setup, sink);
  EnterDirectory(directory, {}, 0, walk, false);
  while (searchTally.keepGoing) {
    if (walk.listed.empty()) {
      if (!EnterNext(walk, false)) break;
      continue;
    }
    SearchFirstListed(walk);
  }
  // Stopped early: what was listed ahead leaves the plan too.
  while (!walk.listed.empty()) {
    reads.End();
    walk.listed.pop_front();
  }
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
  WritePlain(SummaryText(searchTally.filesFound, searchTally.occurrences,
                         InertText(searchSettings.searchText)));
  return 0;
}
