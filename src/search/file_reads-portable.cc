// Opening the files of a directory on any POSIX system: each in its turn, by its path, with
// nothing read ahead. Once a prompt has come since the listing, every entry is looked at
// before it is opened, as entries not known to be regular files always are.
#include "search/file_reads.h"

#include <utility>

class FileReads::Impl {
 public:
  std::vector<PlannedFile> files;
  bool stale = false;
};

FileReads::FileReads(ReadWay) : impl_(std::make_unique<Impl>()) {}
FileReads::~FileReads() = default;

// Files are opened by their paths: the directory handle is not needed.
void FileReads::Plan(const std::string&, std::vector<PlannedFile> files, OpenDirectory) {
  impl_->files = std::move(files);
  impl_->stale = false;
}

// Nothing is held for reading ahead.
bool FileReads::GiveBackMemory() { return false; }

OpenResult FileReads::Open(std::size_t index, const std::string& path, InputFile& file,
                           std::uint64_t& length) {
  if (index >= impl_->files.size()) return OpenResult::NotOpened;
  const PlannedFile& planned = impl_->files[index];
  return file.Open(path, planned.knownRegular && !impl_->stale, length);
}

const PlannedFile& FileReads::File(std::size_t index) const { return impl_->files[index]; }

void FileReads::BeforePrompt() { impl_->stale = true; }

void FileReads::End() { impl_->files.clear(); }
