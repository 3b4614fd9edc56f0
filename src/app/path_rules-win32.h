// Windows spelling of paths, for a given code page: the rules behind path_rules.h on Windows,
// open to tests with any code page. Windows builds only.
#ifndef QZ_APP_PATH_RULES_WIN32_H_
#define QZ_APP_PATH_RULES_WIN32_H_

#include <string>
#include <string_view>

#include "app/path_rules.h"

// Whether `byte` is the lead byte of a two-byte character in the code page the paths are
// spelled in. A lead byte takes the byte after it along, so a trail byte that happens to be
// 0x5C ('\') or 0x2F ('/') or 0x2E ('.') is never taken for a separator or a dot.
using LeadByteTest = bool (*)(unsigned char byte);

// The ANSI code page's lead bytes, as the system tells them.
bool IsAnsiLeadByte(unsigned char byte);

FileSpecParts SplitFileSpecIn(std::string_view fileSpec, LeadByteTest isLeadByte);
std::string RootOfIn(std::string_view directory, LeadByteTest isLeadByte);
std::string JoinPathIn(std::string_view directory, std::string_view name, LeadByteTest isLeadByte);

#endif  // QZ_APP_PATH_RULES_WIN32_H_
