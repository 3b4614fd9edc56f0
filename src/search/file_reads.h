// Opening the files of the directory being searched, and reading ahead of the scan. One
// implementation per platform.
#ifndef QZ_SEARCH_FILE_READS_H_
#define QZ_SEARCH_FILE_READS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "search/input_file.h"
#include "search/open_directory.h"

// One of the files the walk is about to search in one directory, in the order it will search
// them. The name lives in the directory listing, which the walk keeps until the plan ends.
struct PlannedFile {
  const char* name;        // within the directory, NUL-terminated
  std::uint32_t nameSize;  // without the NUL
  bool knownRegular;       // as for InputFile::Open
};

// How files are read. Where the platform reads ahead (POSIX: through io_uring), `Adaptive`
// reads with plain calls while the files come from the page cache and sets the ring up at the
// first read found to wait for the disk, or once the walk has opened a thousand files or so;
// `Plain` never sets the ring up, `Ring` sets it up at the start. Where it does not, all three
// are the same.
enum class ReadWay { Adaptive, Plain, Ring };

inline constexpr int kFilesReadAhead = 32;

class FileReads;

// What opens one file for the search: the walk's reads (the file of their plan whose turn it
// is, at `path`) or, with none, a plain open of `path`.
struct FileOpener {
  const std::string& path;
  bool knownRegular = false;  // as for InputFile::Open, when there are no reads
  FileReads* reads = nullptr;

  OpenResult Open(InputFile& file, std::uint64_t& length) const;
};

// The reads of one run. The walk owns it and hands it each directory's files before it
// searches them (Plan), in the order it searches the directories, possibly several ahead of
// the one it is searching (WantsMore); the reads keep those lists, give the walk the files of
// the first directory in order (NextFile), open each in its turn (Open), and let the
// directory go when the walk is done with it (End). BeforePrompt comes before every prompt.
// Whatever way it reads, a file opened through it is the one its path names at that moment,
// or at the latest since the last prompt, checked to be a regular file: the same file a plain
// open of the path would give, at every descriptor limit.
class FileReads {
 public:
  explicit FileReads(ReadWay way = ReadWay::Adaptive);
  ~FileReads();
  FileReads(const FileReads&) = delete;
  FileReads& operator=(const FileReads&) = delete;

  // The files of `directory` the walk will search once it is done with the directories planned
  // before it, in order (none, for a directory it only passes through). May start opening and
  // reading some of them (at most kFilesReadAhead files in the whole plan, the first part of
  // each). `opened`, when it holds a handle, is the directory as its listing read it: the
  // reads take it over, and may open the files relative to it until the next prompt.
  void Plan(const std::string& directory, std::vector<PlannedFile> files,
            OpenDirectory opened = {});

  // Whether the reads would read ahead further than the directories planned reach: the walk
  // may then list the directories it will search next and plan them before it is done with
  // the first. Never where nothing is read ahead.
  bool WantsMore() const;

  // The next file of the first directory planned, in its order, whose turn it is now; null
  // when that directory has no more. Its name stays where it is until the directory's End.
  const PlannedFile* NextFile();

  // Opens the file NextFile gave last into `file` and sets `length` (see InputFile::Open), at
  // most once. `path` is its path as the walk shows it (the directory joined with its name):
  // the file opened is the one this path names.
  OpenResult Open(const std::string& path, InputFile& file, std::uint64_t& length);

  // The first bytes of the file Open opened last, where they were read ahead, lent without a
  // copy: they stay as they are until the next Open or a prompt, and the file's reads go on
  // after them. Empty when none are held. Asked for at most once, before the file's first read.
  std::string_view LendFirstPart();

  // The first read of the file Open opened last, when nothing was lent: as InputFile::Read,
  // and the reads may learn from it whether the file came from the disk. `size` must be at
  // least what they read ahead: a whole part as the file window reads them
  // (FileWindow::kPartSize), or the whole file.
  std::int64_t ReadFirstPart(InputFile& file, char* into, std::size_t size);

  // Closes `file`, opened through these reads (Open), once the search is done with it: where
  // the reads have a ring, without waiting for the file system to answer (a network file system
  // answers a close only after a round trip).
  void Close(InputFile& file);

  // Everything opened or read ahead is closed and forgotten, and every read the system may
  // still be doing into memory of ours has ended first. The rest of the first directory's files
  // are then opened one at a time as their turn comes, each looked at as a path before it is
  // opened, so that an entry swapped for a FIFO, socket or device meanwhile is not opened. The
  // directories planned after the first are read ahead no more (the walk lets them go,
  // ForgetAhead, to list them again in their turn).
  void BeforePrompt();

  // The directories planned after the first leave the plan, and nothing of theirs is read
  // ahead any more: their names may go.
  void ForgetAhead();

  // The walk is done with the first directory planned: it leaves the plan, and what was
  // opened ahead of its files and not searched is closed unread.
  void End();

  // Memory has run short: the reads give back what they hold for reading ahead (what was read
  // ahead is forgotten and those files closed, to be opened again in their turn; the ring goes,
  // after every read in flight has ended) and read nothing ahead for the rest of the run, as plain
  // reads do. The first part lent to the file being searched stays. True when anything
  // was given back, so that what ran short is worth trying again.
  bool GiveBackMemory();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

inline OpenResult FileOpener::Open(InputFile& file, std::uint64_t& length) const {
  return reads ? reads->Open(path, file, length) : file.Open(path, knownRegular, length);
}

#endif  // QZ_SEARCH_FILE_READS_H_
