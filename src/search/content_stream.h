// One file's content as the tool searches it, delivered through a window that slides over the
// file, so that a file of any size is searched in bounded memory with one pass of reading.
#ifndef QZ_SEARCH_CONTENT_STREAM_H_
#define QZ_SEARCH_CONTENT_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "search/file_reader.h"

// The content is the file's bytes in text mode (see TranslateTextMode), read up to the length
// the file had when it was opened. The window holds a stretch of it; Advance drops a prefix of
// the window and appends what follows. A file that ends within the first part read is closed
// at once, so no small file is held open while the user looks at a match.
class ContentStream {
 public:
  // `buffer` is reused from file to file; it grows to the largest window needed, never beyond.
  explicit ContentStream(std::string& buffer) : buffer_(buffer) {}

  // Opens the file and reads the first part of it. On anything but Opened nothing was shown of
  // the file, and the file is passed over.
  OpenResult Open(const std::string& path, bool knownRegular);

  std::string_view window() const { return {buffer_.data(), size_}; }
  // Offset in the content of window()[0].
  std::uint64_t windowStart() const { return start_; }
  // Whether the window reaches the end of the content.
  bool atEnd() const { return atEnd_; }

  // Drops the first `keep` bytes of the window and appends at least one more byte of content,
  // unless the content ends first. A read failure ends the content where it stands.
  void Advance(std::size_t keep);

  // How much is read at a time: small enough to stay in the processor's cache.
  static constexpr std::size_t kPartSize = std::size_t{1} << 20;

 private:
  bool ReadPart();

  std::string& buffer_;
  InputFile file_;
  std::uint64_t unread_ = 0;   // bytes of the measured length not read yet
  std::size_t size_ = 0;       // delivered bytes in the window
  std::uint64_t start_ = 0;
  bool atEnd_ = false;
  bool heldCr_ = false;        // a raw CR at the end of the last part, delivered with the next
};

#endif  // QZ_SEARCH_CONTENT_STREAM_H_
