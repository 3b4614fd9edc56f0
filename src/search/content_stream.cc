#include "search/content_stream.h"

#include <algorithm>
#include <cassert>

OpenResult ContentStream::Open(const FileOpener& opener, bool lazyTextMode) {
  lazyMode_ = lazyTextMode;
  lazy_.Reset();
  translation_ = TextModeStream();
  return window_.Open(opener, lazyMode_ ? kMapThreshold : 0,
                      lazyMode_ ? nullptr : &translation_);
}

std::size_t ContentStream::Advance(std::size_t keep) {
  if (window_.atEnd()) return 0;
  // What leaves the window must be settled first (in the lazy mode: where the content ends,
  // which may shorten the window, and how many CRs it dropped).
  keep = lazyMode_ ? lazy_.BeforeDrop(keep) : std::min(keep, window_.size());
  window_.Drop(keep);
  return keep;
}

ContentStream::Found ContentStream::Locate(std::size_t at, std::size_t length,
                                           std::uint64_t& position) {
  assert((window_.atEnd() || at + length < window_.size()) &&
         "the window holds the byte after the run");
  if (lazyMode_) return lazy_.Locate(at, length, position);
  position = window_.start() + at;
  return Found::Occurrence;
}

MatchView ContentStream::Segments(std::size_t at, std::size_t length, std::size_t width) {
  assert((window_.atEnd() || at + length + Reach(width) <= window_.size()) &&
         "the window holds the context after the occurrence");
  if (lazyMode_) return lazy_.Segments(at, length, width);
  const std::string_view w = window_.bytes();
  const std::size_t before = at > width ? at - width : 0;
  const std::size_t matchEnd = std::min(w.size(), at + length);
  const std::size_t afterEnd = std::min(w.size(), matchEnd + width);
  return {w.substr(before, at - before), w.substr(at, matchEnd - at),
          w.substr(matchEnd, afterEnd - matchEnd)};
}
