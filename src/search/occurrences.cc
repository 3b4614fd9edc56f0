#include "search/occurrences.h"

#include <algorithm>

// The scanner's first candidate from `from` in the window, and in a code page of two-byte
// characters the first that is an occurrence there: the path of one-byte code pages is the
// scanner's alone, as fast as ever.
std::size_t Occurrences::Find(std::string_view window, std::size_t from) {
  std::size_t at = scanner_.FindNext(window, from);
  if (!scanner_.twoByte()) return at;
  while (at != std::string_view::npos &&
         !(walk_.StartsCharacter(window, at) && scanner_.MatchesCharactersAt(window, at)))
    at = scanner_.FindNext(window, at + 1);
  return at;
}

Occurrences::Step Occurrences::Advance(std::uint64_t& position, MatchView* view) {
  const std::size_t m = scanner_.needle().size();
  constexpr std::size_t kReach = ContentStream::Reach(kContextWidth);
  for (;;) {
    const std::string_view window = content_.window();
    std::size_t searchEnd = window.size();
    if (searchEnd - std::min(from_, searchEnd) > kSlice + m) searchEnd = from_ + kSlice + m;
    const std::size_t at = Find(window.substr(0, searchEnd), from_);
    if (at == std::string_view::npos && searchEnd < window.size()) {
      from_ = searchEnd - m + 1;
      return Step::Working;
    }
    // An occurrence is taken once the context after it is in the window too.
    if (at != std::string_view::npos && (content_.atEnd() || window.size() - at >= m + kReach)) {
      // Only a report to be shown needs the snapshot: occurrences that are only counted are
      // found as the content streams by.
      if (!tookInRest_ && view) {
        content_.TakeInRest();
        tookInRest_ = true;
      }
      const ContentStream::Found found = content_.Locate(at, m, position);
      if (found == ContentStream::Found::ContentEnds) return Step::Done;
      from_ = at + 1;
      if (found == ContentStream::Found::NotOne) continue;
      if (!view) return Step::Found;
      *view = content_.Segments(at, m, kContextWidth);
      // The occurrence ends with a whole character, so the context after it starts one.
      if (scanner_.twoByte())
        view->after = WithoutHalfCharacterAtEnd(view->after, scanner_.leadBytes());
      return Step::Found;
    }
    if (content_.atEnd()) return Step::Done;
    // Slide on, keeping what a later occurrence and the context before it may still need.
    std::size_t next = at;
    if (at == std::string_view::npos)
      next = (m == 0 || window.size() < m) ? from_ : std::max(from_, window.size() - m + 1);
    const std::size_t drop = next > kReach ? next - kReach : 0;
    const bool twoByte = scanner_.twoByte();
    if (twoByte) walk_.BeforeDrop(window, drop);
    const std::size_t dropped = content_.Advance(drop);
    if (twoByte) walk_.Dropped(dropped);
    from_ = next - dropped;
    return Step::Working;
  }
}
