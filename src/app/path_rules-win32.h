// Windows spelling of paths, for a given code page: the rules behind path_rules.h on Windows,
// open to tests with any code page. Windows builds only.
#ifndef QZ_APP_PATH_RULES_WIN32_H_
#define QZ_APP_PATH_RULES_WIN32_H_

#include <string>
#include <string_view>

#include "app/path_rules.h"

// The ANSI code page's lead bytes, as the system tells them (IsPathLeadByte on Windows).
bool IsAnsiLeadByte(unsigned char byte);

FileSpecParts SplitFileSpecIn(std::string_view fileSpec, LeadByteTest isLeadByte);
std::string RootOfIn(std::string_view directory, LeadByteTest isLeadByte);
std::string JoinPathIn(std::string_view directory, std::string_view name, LeadByteTest isLeadByte);

#endif  // QZ_APP_PATH_RULES_WIN32_H_
