// The Windows console shows text in its code page, one byte to a cell; nothing there measures
// text by code point. Kept so that the shared display code links on every platform.
#include "console/cell_width.h"

int CellWidth(char32_t) { return 1; }

bool GraphemeBreak(char32_t, char32_t, int&) { return true; }
