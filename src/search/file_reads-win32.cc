// Opening the files of a directory on Windows: each in its turn, by its path. Nothing is read
// ahead: a file open here keeps editors from saving it.
#include "search/file_reads.h"

#include <utility>

class FileReads::Impl {
 public:
  std::vector<PlannedFile> files;
};

FileReads::FileReads(ReadWay) : impl_(std::make_unique<Impl>()) {}
FileReads::~FileReads() = default;

// Files are opened by their paths: the directory handle is not needed.
void FileReads::Plan(const std::string&, std::vector<PlannedFile> files, OpenDirectory) {
  impl_->files = std::move(files);
}

OpenResult FileReads::Open(std::size_t index, const std::string& path, InputFile& file,
                           std::uint64_t& length) {
  if (index >= impl_->files.size()) return OpenResult::NotOpened;
  const PlannedFile& planned = impl_->files[index];
  return file.Open(path, planned.knownRegular, length);
}

const PlannedFile& FileReads::File(std::size_t index) const { return impl_->files[index]; }

void FileReads::BeforePrompt() {}

void FileReads::End() { impl_->files.clear(); }

// Nothing is read ahead, so nothing is held for it.
bool FileReads::GiveBackMemory() { return false; }
