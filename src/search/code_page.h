// Platform seam: the code page the search text and the file names are spelled in, as far as
// the search and the walk's name order need it: which bytes begin a two-byte character. One
// implementation per platform.
#ifndef QZ_SEARCH_CODE_PAGE_H_
#define QZ_SEARCH_CODE_PAGE_H_

#include <bitset>

// The lead bytes of a code page of one- and two-byte characters (932, 936, 949, 950): a lead
// byte and the byte after it are one character, whatever that byte is (at the end of a text a
// lead byte stands alone). ASCII bytes are never lead bytes, so folding an ASCII letter never
// changes one. An empty set is a code page of one-byte characters, or UTF-8, whose multi-byte
// characters hold no ASCII byte: there every byte may start a match and every letter folds.
//
// Since a lead byte always takes the next byte along, a byte that is no lead byte ends a
// character wherever it stands (a character of its own, or a trail byte): the byte after it
// starts one. That is how a boundary is found by looking back a little, without walking from
// the start (CharacterWalk).
class LeadBytes {
 public:
  LeadBytes() = default;  // none: one byte a character

  // Makes the bytes from `first` to `last` lead bytes; ASCII bytes among them stay as they are.
  void AddRange(unsigned char first, unsigned char last) {
    for (unsigned int b = first < 0x80 ? 0x80 : first; b <= last; ++b) lead_.set(b);
  }

  bool IsLead(unsigned char byte) const { return lead_.test(byte); }
  bool IsLead(char byte) const { return IsLead(static_cast<unsigned char>(byte)); }
  // A code page of one-byte characters (or UTF-8): the search and the name order go byte by
  // byte, exactly as without this.
  bool empty() const { return lead_.none(); }

 private:
  std::bitset<256> lead_;
};

// The lead bytes of the code page in which the search text reaches the program and in which
// the walk spells file names. POSIX: none (texts and names are bytes, in practice UTF-8).
// Windows: those of the ANSI code page when it is a two-byte one, none for any other
// (single-byte code pages and UTF-8). Asked once per run: the whole run reads one code page.
LeadBytes TextLeadBytes();

#endif  // QZ_SEARCH_CODE_PAGE_H_
