// The ANSI code page's lead bytes, as the system tells them.
//
// The search text comes from the C runtime's argument vector, which it builds in the ANSI code
// page, and the walk's names are given in the code page of the ANSI file functions (the same,
// as qz never switches them to OEM): so the ANSI code page is the one both are read in. The
// console's output code page, which the match report's wrap asks for afresh, is the same one
// on a system set up for that language.
#include "search/code_page.h"

#include <windows.h>

LeadBytes TextLeadBytes() {
  LeadBytes lead;
  CPINFO info;
  // Only a code page of one- and two-byte characters has lead bytes in this sense; UTF-8
  // (MaxCharSize 4) lists none, and a single-byte one none either.
  if (!GetCPInfo(CP_ACP, &info) || info.MaxCharSize != 2) return lead;
  // LeadByte holds pairs of first and last bytes of each range, ended by a pair of zeros.
  for (int i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2)
    lead.AddRange(info.LeadByte[i], info.LeadByte[i + 1]);
  return lead;
}
