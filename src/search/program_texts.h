// What qz says in words, byte for byte: the usage line, a match report's header and prompt, and
// the closing summary. The code that writes them adds only paths, numbers and the search text.
#ifndef QZ_SEARCH_PROGRAM_TEXTS_H_
#define QZ_SEARCH_PROGRAM_TEXTS_H_

#include <cstdint>
#include <string>
#include <string_view>

// Shown, alone, when the command line names no files or no search text.
inline constexpr std::string_view kUsageLine = "Usage is: qz.exe <file(s)> <search-text> [/s]\n";

// Asked after each match report.
inline constexpr std::string_view kMatchPrompt =
    "\n\n(S) to skip this file; (Esc) to stop searching; any other key to continue: ";

// The header line of a match report: "\rFound in <path> - position <position>:\n\n". The CR
// puts it over the path line for the first match of a file.
inline std::string MatchHeader(const std::string& path, std::uint64_t position) {
  return "\rFound in " + path + " - position " + std::to_string(position) + ":\n\n";
}

// The closing summary for the given counts and search text.
inline std::string SummaryText(std::uint64_t filesFound, std::uint64_t occurrences,
                               const std::string& searchText) {
  const auto ending = [](std::uint64_t count) { return count == 1 ? "" : "s"; };
  return "\n\nSearch complete\n\n" + std::to_string(filesFound) + " file" + ending(filesFound) +
         " found containing the text \"" + searchText + "\"\n\n" + std::to_string(occurrences) +
         " occurrence" + ending(occurrences) + " of the text \"" + searchText + "\"\n\n";
}

#endif  // QZ_SEARCH_PROGRAM_TEXTS_H_
