// How many cells of the terminal a character takes, and where a character ends. One
// implementation per platform.
#ifndef QZ_CONSOLE_CELL_WIDTH_H_
#define QZ_CONSOLE_CELL_WIDTH_H_

// Cells the terminal gives the printable code point `cp`: 0 for combining and other zero-width
// characters, 2 for East Asian wide characters and emoji, 1 for the rest.
int CellWidth(char32_t cp);

// Whether one user-perceived character (a base and its combining marks, an emoji sequence)
// ends between the code points `before` and `after`, by Unicode's grapheme cluster rules.
// `state` carries what the rules need along a run of text; it starts at 0.
bool GraphemeBreak(char32_t before, char32_t after, int& state);

#endif  // QZ_CONSOLE_CELL_WIDTH_H_
