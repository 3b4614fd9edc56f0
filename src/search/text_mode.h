// The text-mode view of a file's bytes, as the tool searches and reports it.
#ifndef QZ_SEARCH_TEXT_MODE_H_
#define QZ_SEARCH_TEXT_MODE_H_

#include <string>

// Rewrites `bytes` in place into the content the tool searches: every CR LF pair becomes a
// single LF, a lone CR stays, and the first byte 26 (Ctrl+Z) ends the content. Positions in
// reports are offsets into this content, on every platform.
void TranslateTextMode(std::string& bytes);

#endif  // QZ_SEARCH_TEXT_MODE_H_
