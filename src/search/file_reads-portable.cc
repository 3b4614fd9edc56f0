// Opening the files of a directory with no read-ahead, on any system (Windows, and POSIX
// without the Linux layer): each in its turn, by its path. On Windows a file held open keeps
// editors from saving it, which is reason enough to open none ahead. Once a prompt has come
// since the listing, every entry is looked at before it is opened, as entries not known to be
// regular files always are.
#include "search/file_reads.h"

#include <cassert>
#include <utility>

class FileReads::Impl {
 public:
  std::vector<PlannedFile> files;
  std::size_t next = 0;  // the file NextFile gives next
  std::size_t opened = 0;  // next as it was at the last Open (0: none since the plan began)
  bool stale = false;    // a prompt came since the listing
};

// Nothing is read ahead, so the walk plans one directory at a time (WantsMore).
bool FileReads::WantsMore() const { return false; }

FileReads::FileReads(ReadWay) : impl_(std::make_unique<Impl>()) {}
FileReads::~FileReads() = default;

// Files are opened by their paths: the directory handle is not needed.
void FileReads::Plan(const std::string&, std::vector<PlannedFile> files, OpenDirectory) {
  assert(impl_->files.empty() && "one directory at a time");
  impl_->files = std::move(files);
  impl_->next = 0;
  impl_->opened = 0;
  impl_->stale = false;
}

const PlannedFile* FileReads::NextFile() {
  return impl_->next < impl_->files.size() ? &impl_->files[impl_->next++] : nullptr;
}

OpenResult FileReads::Open(const std::string& path, InputFile& file, std::uint64_t& length) {
  assert(impl_->next > 0 && "Open follows NextFile");
  assert(impl_->next != impl_->opened && "each planned file is opened at most once");
  impl_->opened = impl_->next;
  const PlannedFile& planned = impl_->files[impl_->next - 1];
  return file.Open(path, planned.knownRegular && !impl_->stale, length);
}

// Nothing is read ahead: nothing is lent, and the first read is a read like any other.
std::string_view FileReads::LendFirstPart() { return {}; }

std::int64_t FileReads::ReadFirstPart(InputFile& file, char* into, std::size_t size) {
  return file.Read(into, size);
}

void FileReads::Close(InputFile& file) { file.Close(); }

void FileReads::BeforePrompt() { impl_->stale = true; }

// Only one directory is ever planned.
void FileReads::ForgetAhead() {}

void FileReads::End() {
  impl_->files.clear();
  impl_->next = 0;
}

// Nothing is held for reading ahead.
bool FileReads::GiveBackMemory() { return false; }
