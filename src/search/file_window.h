// A window onto one file's bytes: the whole file mapped, or a part at a time read into one
// buffer that serves every file. A first part read ahead is looked at where the reads hold it,
// and moved into the buffer only when the window grows or must outlive it (TakeInRest).
#ifndef QZ_SEARCH_FILE_WINDOW_H_
#define QZ_SEARCH_FILE_WINDOW_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "search/input_file.h"
#include "search/file_reads.h"
#include "search/text_mode.h"

class FileWindow {
 public:
  // `buffer` is reused from file to file; it grows to the largest window needed.
  explicit FileWindow(std::string& buffer) : buffer_(buffer) {}

  // Opens the file and takes in its first part. With `mapAtLeast`, a file of at least that many
  // bytes is mapped whole instead, where the platform can. With `translate`, what is read goes
  // through that text-mode stream; a mapped file is never translated. On anything but Opened
  // the window is empty.
  OpenResult Open(const FileOpener& opener, std::uint64_t mapAtLeast, TextModeStream* translate);

  std::string_view bytes() const { return {data_, size_}; }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  // Whether the window reaches the end of what there is to read.
  bool atEnd() const { return atEnd_; }
  bool mapped() const { return mapped_; }
  // The offset of bytes()[0] in what was delivered (the file, or its translation).
  std::uint64_t start() const { return start_; }
  // How much of a mapped window is intact (see InputFile::MappedIntact).
  std::uint64_t MappedIntact() const { return file_.MappedIntact(); }

  // Drops the first `count` bytes (at most size()) and appends at least one more byte, unless
  // the file ends first. A read failure ends the window where it stands.
  void Drop(std::size_t count);

  // Takes the rest of the file into the window and closes it (see ContentStream::TakeInRest).
  void TakeInRest(std::uint64_t limit);

  // The content ends at window byte `end`; the file is closed unless it is mapped.
  void EndAt(std::size_t end);

  // How much is read at a time: small enough to stay in the processor's cache.
  static constexpr std::size_t kPartSize = std::size_t{64} << 10;
  // A buffer grown beyond this for one file is given back before the next.
  static constexpr std::size_t kKeptBuffer = std::size_t{16} << 20;
  // How much of a mapped file is copied before its pages are given back (TakeInRest).
  static constexpr std::size_t kCopyStretch = std::size_t{16} << 20;

 private:
  bool ReadPart();
  void CloseFile();
  // Moves a window that lies in the reads' memory into the buffer. False when memory ran out.
  bool Own();

  std::string& buffer_;
  InputFile file_;
  TextModeStream* translate_ = nullptr;
  FileReads* reads_ = nullptr;  // those the file was opened through: asked for memory when short
  const char* data_ = nullptr;  // the buffer, or the mapped file
  std::size_t size_ = 0;
  bool mapped_ = false;
  bool borrowed_ = false;       // data_ is the first part as the reads hold it
  bool firstRead_ = false;      // the next read is the file's first, through reads_
  bool atEnd_ = false;
  std::uint64_t unread_ = 0;    // bytes of the measured length not read yet
  std::uint64_t start_ = 0;
};

#endif  // QZ_SEARCH_FILE_WINDOW_H_
