// One file's content as the tool searches it: the file's bytes in text mode (see
// TranslateTextMode), up to the length the file had when it was opened.
#ifndef QZ_SEARCH_CONTENT_STREAM_H_
#define QZ_SEARCH_CONTENT_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "search/file_reader.h"

// The context and the occurrence, as one match report shows them.
struct MatchView {
  std::string_view before, match, after;
};

// The content comes through a window: a large file is mapped whole; any other file is read a
// part at a time into one buffer that serves every file, and Advance drops a prefix of the
// window and appends what follows. A file that ends within the first part read is closed at
// once; any other is taken in whole before its first match is shown (TakeInRest), so no file
// up to kSnapshotLimit is held open while the user looks at a match.
//
// In the lazy text mode the window holds the file's bytes as they are, and the text-mode rules
// are applied only where an occurrence is found (Locate, Segments): most files hold no CR LF
// and no byte 26, and the search then costs no pass of its own over them. That mode is for
// search texts that hold no LF, since an LF in the text could pair with a CR LF in the file.
// Otherwise the window holds the content translated, and Locate and Segments read it as is.
class ContentStream {
 public:
  // `buffer` is reused from file to file; it grows to the largest window needed, never beyond.
  explicit ContentStream(std::string& buffer) : buffer_(buffer) {}

  // Opens the file and takes in the first part of it. On anything but Opened nothing was
  // shown of the file, and the file is passed over.
  OpenResult Open(const std::string& path, bool knownRegular, bool lazyTextMode);

  std::string_view window() const { return {data_, size_}; }
  // Whether the window reaches the end of the content.
  bool atEnd() const { return atEnd_; }

  // Drops the first `keep` bytes of the window and appends at least one more byte, unless the
  // content ends first. Returns the number of bytes dropped: fewer than `keep` only when the
  // content ends before. A read failure ends the content where it stands.
  std::size_t Advance(std::size_t keep);

  // Takes the rest of the content into the window and closes the file, so that the content
  // stays as it was while the user reads a match and no file is held open meanwhile. A rest
  // larger than kSnapshotLimit stays where it is (open, or mapped), as does the rest of a file
  // for which memory runs short. Offsets into the window keep their meaning.
  void TakeInRest();

  enum class Found { Occurrence, NotOne, ContentEnds };
  // Checks a run of `length` bytes at `at` in the window that equals the search text as bytes:
  // ContentEnds when the content ends before the run does (so will every later run), NotOne
  // when the run's last byte is a CR that the content drops, Occurrence with its `position`
  // in the content otherwise. The window must hold the byte after the run, unless atEnd().
  Found Locate(std::size_t at, std::size_t length, std::uint64_t& position);

  // Up to `width` bytes of content before the occurrence at `at`, the occurrence, and up to
  // `width` bytes after it. The window must hold kReach bytes before `at` (or its start) and
  // `length` + kReach bytes from `at` on (or reach the end).
  MatchView Segments(std::size_t at, std::size_t length, std::size_t width);

  // How far around an occurrence Segments may look, in window bytes, for a context of `width`:
  // twice as far, as in the lazy mode every other byte may be a CR the content drops.
  static constexpr std::size_t Reach(std::size_t width) { return 2 * width + 1; }

  // How much is read at a time: small enough to stay in the processor's cache.
  static constexpr std::size_t kPartSize = std::size_t{64} << 10;
  // Files at least this large are mapped rather than read, in the lazy mode.
  static constexpr std::uint64_t kMapThreshold = std::uint64_t{4} << 20;
  // The most TakeInRest takes in.
  static constexpr std::uint64_t kSnapshotLimit = std::uint64_t{1} << 30;
  // A buffer grown beyond this for one file is given back before the next.
  static constexpr std::size_t kKeptBuffer = std::size_t{16} << 20;

 private:
  bool ReadPart();
  void EndAt(std::size_t end);
  void CheckEndBefore(std::size_t limit);
  bool DropsCrAt(std::size_t k) const;

  std::string& buffer_;
  InputFile file_;
  const char* data_ = nullptr;  // the window: the buffer, or the mapped file
  std::size_t size_ = 0;
  bool mapped_ = false;
  bool lazy_ = false;
  bool atEnd_ = false;
  std::uint64_t unread_ = 0;     // bytes of the measured length not read yet
  std::uint64_t start_ = 0;      // offset of window()[0] in the file (lazy) or content
  bool heldCr_ = false;          // translated mode: a CR at the end of the last part
  // Lazy mode: window bytes before `checked_` hold no byte 26; `dropped_` CRs stand in the
  // file before window byte `counted_`.
  std::size_t checked_ = 0;
  std::size_t counted_ = 0;
  std::uint64_t dropped_ = 0;
  std::string before_, after_;   // lazy mode: the context, with dropped CRs left out
};

#endif  // QZ_SEARCH_CONTENT_STREAM_H_
