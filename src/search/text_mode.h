// The text-mode view of a file's bytes, as the tool searches and reports it.
#ifndef QZ_SEARCH_TEXT_MODE_H_
#define QZ_SEARCH_TEXT_MODE_H_

#include <cstddef>
#include <string>

// Rewrites `n` raw bytes at `data` in place into the content the tool searches: every CR
// directly followed by LF is dropped (so CR LF becomes LF), a lone CR stays, and the first byte
// 26 (Ctrl+Z) ends the content: it and everything after it are dropped and `sawEnd` is set.
// Returns the number of bytes delivered, at the start of `data`. A CR as the last of the `n`
// bytes stays; a caller that feeds a file in parts holds such a CR back until the next part.
// Positions in reports are offsets into this content, on every platform.
std::size_t TranslateTextMode(char* data, std::size_t n, bool& sawEnd);

// The same for a whole file's bytes.
void TranslateTextMode(std::string& bytes);

#endif  // QZ_SEARCH_TEXT_MODE_H_
