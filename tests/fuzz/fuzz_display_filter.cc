// DisplayFilter fed arbitrary bytes in arbitrary pieces and window widths. Whatever comes in,
// what goes out must be inert on a terminal: well-formed UTF-8 holding no ESC, no C0 control
// but CR, LF and BS, no DEL and no C1 control; and the column it tracks stays inside the
// window. Cut into pieces at one width, the bytes must come out as they do in one piece.
// WrapColored's breaks agree with the filter: text it wrapped for a window never makes the
// filter break a line of its own, and shows the same characters as the text unwrapped.
//
// Input: a run of pieces, each a control byte (the width for this piece, and whether the
// sequence is finished or the cursor sent home after it), a length byte and that many bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "console/terminal_text.h"
#include "fuzz_check.h"

namespace {

struct Piece {
  std::string_view bytes;
  int width;
  bool finish;
  bool home;
};

int WidthFor(std::uint8_t control) {
  const int w = control & 0x3F;
  if (w < 8) return w - 1;  // 0 and -1 too: the filter must treat them as one column
  return w * 4;             // 32 to 252
}

// Checks `out` is inert: decodes it as strict UTF-8 and looks at every code point.
void CheckInert(std::string_view out) {
  for (std::size_t i = 0; i < out.size();) {
    const auto b = static_cast<unsigned char>(out[i]);
    std::uint32_t cp;
    std::size_t length;
    if (b < 0x80) {
      cp = b;
      length = 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
      cp = b & 0x1F;
      length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      cp = b & 0x0F;
      length = 3;
    } else {
      FUZZ_CHECK(b >= 0xF0 && b <= 0xF4);
      cp = b & 0x07;
      length = 4;
    }
    FUZZ_CHECK(i + length <= out.size());
    for (std::size_t k = 1; k < length; ++k) {
      const auto c = static_cast<unsigned char>(out[i + k]);
      FUZZ_CHECK((c & 0xC0) == 0x80);
      cp = (cp << 6) | (c & 0x3F);
    }
    // Shortest form only, no surrogates, nothing past U+10FFFF.
    FUZZ_CHECK(length == 1 || cp >= (length == 2 ? 0x80u : length == 3 ? 0x800u : 0x10000u));
    FUZZ_CHECK(cp < 0xD800 || cp > 0xDFFF);
    FUZZ_CHECK(cp <= 0x10FFFF);
    FUZZ_CHECK(cp >= 0x20 || cp == '\r' || cp == '\n' || cp == '\b');
    FUZZ_CHECK(cp != 0x7F);
    FUZZ_CHECK(cp < 0x80 || cp > 0x9F);
    i += length;
  }
}

// What the filter shows for `in` at `width`, and how many line breaks it made.
std::string Shown(std::string_view in, int width, std::size_t& breaks) {
  DisplayFilter f;
  std::string out;
  f.Write(in, width, out);
  f.Finish(width, out);
  breaks = 0;
  for (std::size_t at = out.find("\r\n"); at != std::string::npos; at = out.find("\r\n", at + 2))
    ++breaks;
  return out;
}

std::string WithoutLineEnds(std::string_view text) {
  std::string kept;
  for (char c : text)
    if (c != '\r' && c != '\n') kept += c;
  return kept;
}

// After a call at `width` (at least one column): the column is inside the window, unless the
// call wrote nothing but backspaces after a narrowing of the window, which a later glyph or
// line end corrects.
void CheckColumn(const DisplayFilter& f, int width, int before, std::string_view written) {
  if (width < 1) width = 1;
  FUZZ_CHECK(f.column() >= 0);
  if (f.column() < width) return;
  FUZZ_CHECK(f.column() <= before);
  FUZZ_CHECK(written.find_first_not_of('\b') == std::string_view::npos);
}

}  // namespace

// WrapColored measures characters as the terminal's character set shows them, which the
// console takes from the locale: a UTF-8 one, as the filter here.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("LC_ALL", "C.UTF-8", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<Piece> pieces;
  for (std::size_t i = 0; i + 2 <= size;) {
    const std::uint8_t control = data[i];
    const std::size_t length = std::min<std::size_t>(data[i + 1], size - i - 2);
    pieces.push_back({std::string_view(reinterpret_cast<const char*>(data) + i + 2, length),
                      WidthFor(control), (control & 0x40) != 0, (control & 0x80) != 0});
    i += 2 + length;
  }
  if (pieces.empty()) return 0;

  // Every piece at its own width, with its Finish and Home.
  DisplayFilter f;
  std::string out;
  for (const Piece& p : pieces) {
    const std::size_t mark = out.size();
    const int before = f.column();
    f.Write(p.bytes, p.width, out);
    CheckColumn(f, p.width, before, std::string_view(out).substr(mark));
    if (p.finish) {
      const std::size_t finishMark = out.size();
      const int finishBefore = f.column();
      f.Finish(p.width, out);
      CheckColumn(f, p.width, finishBefore, std::string_view(out).substr(finishMark));
    }
    if (p.home) f.Home();
  }
  f.Finish(pieces.back().width, out);
  CheckInert(out);

  // The same bytes at the first piece's width: in pieces, and in one.
  const int width = pieces.front().width;
  std::string all;
  DisplayFilter split;
  std::string splitOut;
  for (const Piece& p : pieces) {
    all += p.bytes;
    split.Write(p.bytes, width, splitOut);
  }
  split.Finish(width, splitOut);
  DisplayFilter whole;
  std::string wholeOut;
  whole.Write(all, width, wholeOut);
  whole.Finish(width, wholeOut);
  FUZZ_CHECK(splitOut == wholeOut);
  FUZZ_CHECK(split.column() == whole.column());
  CheckInert(wholeOut);

  // Wrapped as the console wraps colour text (TAB and BS move the cursor on their own, bells
  // are dropped: left out here), from column 0 with the right edge one before the width.
  if (width >= 3) {
    std::string text;
    for (char c : all)
      if (c != '\t' && c != '\b' && c != '\a') text += c;
    const std::string wrapped = WrapColored(text, 0, width - 1);
    std::size_t lineFeeds = 0;
    for (char c : wrapped) lineFeeds += c == '\n';
    std::size_t breaks = 0, unwrappedBreaks = 0;
    const std::string shown = Shown(wrapped, width, breaks);
    FUZZ_CHECK(breaks == lineFeeds);
    FUZZ_CHECK(WithoutLineEnds(shown) == WithoutLineEnds(Shown(text, width, unwrappedBreaks)));
  }

  // Printable ASCII passes unchanged, apart from the line breaks the filter adds.
  if (all.find_first_not_of(
          " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`"
          "abcdefghijklmnopqrstuvwxyz{|}~") == std::string::npos) {
    std::string unbroken;
    for (std::size_t i = 0; i < wholeOut.size(); ++i) {
      if (wholeOut.compare(i, 2, "\r\n") == 0) {
        ++i;
        continue;
      }
      unbroken += wholeOut[i];
    }
    FUZZ_CHECK(unbroken == all);
  }
  return 0;
}
