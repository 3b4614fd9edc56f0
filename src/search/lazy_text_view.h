// The text-mode content of a window that holds a file's bytes as they are: the rules are
// applied only where an occurrence is found (see ContentStream).
#ifndef QZ_SEARCH_LAZY_TEXT_VIEW_H_
#define QZ_SEARCH_LAZY_TEXT_VIEW_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "search/file_window.h"

// The context and the occurrence, as one match report shows them.
struct MatchView {
  std::string_view before, match, after;
};

enum class LocateResult { Occurrence, NotOne, ContentEnds };

// Keeps count of the CRs the content drops before the window's bytes, and finds where the
// content ends (a byte 26, or a mapped file cut short) as far as it needs to.
class LazyTextView {
 public:
  explicit LazyTextView(FileWindow& window) : window_(window) {}

  void Reset() {
    checked_ = counted_ = noCrBefore_ = 0;
    dropped_ = 0;
  }

  // Settles what the first `count` window bytes hold before they are dropped: where the
  // content ends, and the CRs it drops there (a CR LF pair across the cut counts with the bytes
  // before it). Returns how many bytes may be dropped: fewer when the content ends first.
  std::size_t BeforeDrop(std::size_t count);

  // How far around an occurrence Segments may look, in window bytes, for a context of `width`:
  // twice as far, as every other byte may be a CR the content drops.
  static constexpr std::size_t Reach(std::size_t width) { return 2 * width + 1; }

  // As ContentStream::Locate and ContentStream::Segments.
  LocateResult Locate(std::size_t at, std::size_t length, std::uint64_t& position);
  MatchView Segments(std::size_t at, std::size_t length, std::size_t width);

 private:
  void CheckEndBefore(std::size_t limit);
  bool DropsCrAt(std::size_t k) const;
  // The CR LF pairs within window bytes [from, to).
  std::uint64_t CrLfPairs(std::size_t from, std::size_t to);
  // How far past what it needs a window read into memory is looked at, for a byte 26 and for
  // CRs, at a time: a common text found every few bytes then costs no look of its own. A
  // mapped window is looked at only as far as needed, as its file may change under it.
  std::size_t LookAhead() const;

  FileWindow& window_;
  // Window bytes before `checked_` hold no byte 26; `dropped_` CRs stand in the file before
  // window byte `counted_`; window bytes from `counted_` to `noCrBefore_` hold no CR.
  std::size_t checked_ = 0;
  std::size_t counted_ = 0;
  std::size_t noCrBefore_ = 0;
  std::uint64_t dropped_ = 0;
  std::string before_, after_;  // the context, with dropped CRs left out
};

#endif  // QZ_SEARCH_LAZY_TEXT_VIEW_H_
