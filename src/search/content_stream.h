// One file's content as the tool searches it: the file's bytes in text mode (see
// TranslateTextMode), up to the length the file had when it was opened.
#ifndef QZ_SEARCH_CONTENT_STREAM_H_
#define QZ_SEARCH_CONTENT_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "search/input_file.h"
#include "search/file_window.h"
#include "search/lazy_text_view.h"
#include "search/text_mode.h"

// The content comes through a FileWindow: a large file is mapped whole; any other file is read
// a part at a time, and Advance drops a prefix of the window and appends what follows. A file
// that ends within the first part read is closed at once; any other is taken in whole before
// its first match is shown (TakeInRest), so no file up to kSnapshotLimit is held open while the
// user looks at a match.
//
// The text mode is chosen once per run (BeginSearch), for one reason: in the lazy mode the
// window holds the file's bytes as they are and the text-mode rules are applied only where an
// occurrence is found (LazyTextView), since most files hold no CR LF and no byte 26 and the
// search then costs no pass of its own over them. That mode is for search texts that hold no
// LF, as an LF in the text could pair with a CR LF in the file. Otherwise the window holds the
// content translated as it is read (TextModeStream), and Locate and Segments read it as is.
class ContentStream {
 public:
  // `buffer` is reused from file to file; it grows to the largest window needed, never beyond.
  explicit ContentStream(std::string& buffer) : window_(buffer), lazy_(window_) {}

  // Opens the file and takes in the first part of it. On anything but Opened nothing was
  // shown of the file, and the file is passed over.
  OpenResult Open(const FileOpener& opener, bool lazyTextMode);
  // The same for the file at `path`, opened by itself.
  OpenResult Open(const std::string& path, bool knownRegular, bool lazyTextMode) {
    return Open(FileOpener{path, knownRegular}, lazyTextMode);
  }

  std::string_view window() const { return window_.bytes(); }
  // Whether the window reaches the end of the content.
  bool atEnd() const { return window_.atEnd(); }

  // Drops the first `keep` bytes of the window and appends at least one more byte, unless the
  // content ends first. Returns the number of bytes dropped: fewer than `keep` only when the
  // content ends before. A read failure ends the content where it stands.
  std::size_t Advance(std::size_t keep);

  // Takes the rest of the content into the window and closes the file, so that the content
  // stays as it was while the user reads a match and no file is held open meanwhile. A rest
  // larger than kSnapshotLimit stays where it is (open, or mapped), as does the rest of a file
  // for which memory runs short. Offsets into the window keep their meaning.
  void TakeInRest() { window_.TakeInRest(kSnapshotLimit); }

  using Found = LocateResult;
  // Checks a run of `length` bytes at `at` in the window that equals the search text as bytes:
  // ContentEnds when the content ends before the run does (so will every later run), NotOne
  // when the run's last byte is a CR that the content drops, Occurrence with its `position`
  // in the content otherwise. The window must hold the byte after the run, unless atEnd().
  Found Locate(std::size_t at, std::size_t length, std::uint64_t& position);

  // Up to `width` bytes of content before the occurrence at `at`, the occurrence, and up to
  // `width` bytes after it. The window must hold Reach(width) bytes before `at` (or its start)
  // and `length` + Reach(width) bytes from `at` on (or reach the end).
  MatchView Segments(std::size_t at, std::size_t length, std::size_t width);

  // How far around an occurrence Segments may look, in window bytes, for a context of `width`:
  // as far as the lazy mode needs (the other reads the window as is).
  static constexpr std::size_t Reach(std::size_t width) { return LazyTextView::Reach(width); }

  static constexpr std::size_t kPartSize = FileWindow::kPartSize;
  // Files at least this large are mapped rather than read, in the lazy mode.
  static constexpr std::uint64_t kMapThreshold = std::uint64_t{4} << 20;
  // The most TakeInRest takes in.
  static constexpr std::uint64_t kSnapshotLimit = std::uint64_t{1} << 30;

 private:
  FileWindow window_;
  LazyTextView lazy_;
  TextModeStream translation_;
  bool lazyMode_ = false;
};

#endif  // QZ_SEARCH_CONTENT_STREAM_H_
