// How many cells of the terminal a character takes. One implementation per platform.
#ifndef QZ_CONSOLE_CELL_WIDTH_H_
#define QZ_CONSOLE_CELL_WIDTH_H_

// Cells the terminal gives the printable code point `cp`: 0 for combining and other zero-width
// characters, 2 for East Asian wide characters and emoji, 1 for the rest.
int CellWidth(char32_t cp);

#endif  // QZ_CONSOLE_CELL_WIDTH_H_
