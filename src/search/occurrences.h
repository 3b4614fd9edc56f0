// The occurrences of the search text in one file's content, found one after another.
#ifndef QZ_SEARCH_OCCURRENCES_H_
#define QZ_SEARCH_OCCURRENCES_H_

#include <cstddef>
#include <cstdint>

#include "search/content_stream.h"
#include "search/scanner.h"

inline constexpr std::size_t kContextWidth = 250;  // bytes shown before and after

// Walks `content` for the needle of `scanner`, overlapping occurrences included, sliding the
// content's window as it goes. The first occurrence found with its context takes the rest of
// the content in (ContentStream::TakeInRest) before it is reported, so that whatever the user
// does while reading it, the later occurrences are those of the content as it was; occurrences
// found without (only counted) leave the content streaming. It never talks to the
// console: over a long file it comes back
// now and then with Working, so that the caller can let the screen catch up. In a code page of
// two-byte characters (Scanner::twoByte) an occurrence starts a character of the content, the
// characters counted from the content's first byte, and matches character by character; the
// context after it ends with a whole character (a lead byte cut from its trail byte by the
// width is left out). The context before it is cut at the width as it stands, and may begin
// with a trail byte.
class Occurrences {
 public:
  Occurrences(ContentStream& content, const Scanner& scanner)
      : content_(content), scanner_(scanner), walk_(scanner.leadBytes()) {}

  enum class Step {
    Found,    // `position` and `view` hold the next occurrence
    Working,  // a slice was searched or a part read, and none found yet: call again
    Done,     // the content holds no more
  };

  // Looks for the next occurrence: its offset in the content, and the occurrence with up to
  // kContextWidth bytes of context on each side. The view stays valid until the next call.
  Step Next(std::uint64_t& position, MatchView& view) { return Advance(position, &view); }
  // The same, with the occurrence's offset alone: no context is built.
  Step Next(std::uint64_t& position) { return Advance(position, nullptr); }

  // A long window (a mapped file) is searched this much at a time, with Working in between.
  static constexpr std::size_t kSlice = std::size_t{16} << 20;

 private:
  Step Advance(std::uint64_t& position, MatchView* view);
  std::size_t Find(std::string_view window, std::size_t from);

  ContentStream& content_;
  const Scanner& scanner_;
  CharacterWalk walk_;  // for a code page of two-byte characters
  std::size_t from_ = 0;  // in the window: where the next occurrence may start
  bool tookInRest_ = false;
};

#endif  // QZ_SEARCH_OCCURRENCES_H_
