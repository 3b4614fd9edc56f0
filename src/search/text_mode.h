// The text-mode view of a file's bytes, as the tool searches and reports it.
#ifndef QZ_SEARCH_TEXT_MODE_H_
#define QZ_SEARCH_TEXT_MODE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The byte (Ctrl+Z) at which the content of a file ends.
inline constexpr char kEndOfText = 26;

// Rewrites `n` raw bytes at `data` in place into the content the tool searches: every CR
// directly followed by LF is dropped (so CR LF becomes LF), a lone CR stays, and the first byte
// 26 (Ctrl+Z) ends the content: it and everything after it are dropped and `sawEnd` is set.
// Returns the number of bytes delivered, at the start of `data`. A CR as the last of the `n`
// bytes stays; a caller that feeds a file in parts holds such a CR back until the next part.
// Positions in reports are offsets into this content, on every platform.
std::size_t TranslateTextMode(char* data, std::size_t n, bool& sawEnd);

// The same for a whole file's bytes.
void TranslateTextMode(std::string& bytes);

// The number of CR LF pairs ("\r\n") that start in `bytes` and end in it: the CRs the text
// mode drops there.
std::uint64_t CountCrLf(std::string_view bytes);

// TranslateTextMode over a file fed in parts. A CR at the end of a part may pair with an LF at
// the start of the next, so it is held back until then; the caller puts it in front of the
// next part (WriteHeld) or, when no part follows, at the end of the content (Flush).
class TextModeStream {
 public:
  // How many bytes WriteHeld puts in front of the next part: 1 while a CR is held, else 0.
  std::size_t held() const { return heldCr_ ? 1 : 0; }
  void WriteHeld(char* at) const {
    if (heldCr_) *at = '\r';
  }

  // Translates in place `n` bytes at `data`: the held() bytes WriteHeld wrote, then the next
  // raw part. Unless `last`, a final CR is held back. Returns the number of bytes delivered;
  // `sawEnd` is set at a byte 26, after which nothing more is content.
  std::size_t Translate(char* data, std::size_t n, bool last, bool& sawEnd) {
    heldCr_ = !last && n > 0 && data[n - 1] == '\r';
    return TranslateTextMode(data, heldCr_ ? n - 1 : n, sawEnd);
  }

  // The file ended: writes a CR still held at `at` (it had no LF after it, so it is content)
  // and returns the number of bytes written.
  std::size_t Flush(char* at) {
    const std::size_t n = held();
    WriteHeld(at);
    heldCr_ = false;
    return n;
  }

 private:
  bool heldCr_ = false;
};

#endif  // QZ_SEARCH_TEXT_MODE_H_
