// Widths from utf8proc, which follows the Unicode tables of its release (the same library and
// rules tmux uses), so that the wrap agrees with what current terminals draw.
#include "console/cell_width.h"

#include <utf8proc.h>

int CellWidth(char32_t cp) {
  const int width = utf8proc_charwidth(static_cast<utf8proc_int32_t>(cp));
  return width < 0 ? 1 : width;
}

bool GraphemeBreak(char32_t before, char32_t after, int& state) {
  utf8proc_int32_t s = state;
  const bool breaks = utf8proc_grapheme_break_stateful(static_cast<utf8proc_int32_t>(before),
                                                       static_cast<utf8proc_int32_t>(after), &s);
  state = s;
  return breaks;
}
