// The command line and the path rules over arbitrary argument vectors. The input is the
// arguments separated by NUL bytes (a real argument cannot hold one).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "app/path_rules.h"
#include "fuzz_check.h"

namespace {

bool IsAllSlashes(std::string_view s) { return s.find_first_not_of('/') == std::string_view::npos; }

void CheckPathRules(std::string_view fileSpec) {
  const FileSpecParts parts = SplitFileSpec(fileSpec);
  // The three parts put together give the file spec back.
  FUZZ_CHECK(parts.directory + parts.name + parts.extension == fileSpec);
  FUZZ_CHECK(parts.directory.empty() || parts.directory.back() == '/');
  FUZZ_CHECK(parts.name.find('/') == std::string::npos);
  FUZZ_CHECK(parts.extension.find('/') == std::string::npos);
  if (parts.extension.empty()) {
    FUZZ_CHECK(parts.name.find('.') == std::string::npos);
  } else {
    FUZZ_CHECK(parts.extension[0] == '.' && parts.extension.find('.', 1) == std::string::npos);
  }

  const std::string root = RootOf(parts.directory);
  FUZZ_CHECK(!root.empty());
  FUZZ_CHECK(root == "/" || root.back() != '/');
  if (parts.directory.empty()) {
    FUZZ_CHECK(root == ".");
  } else if (IsAllSlashes(parts.directory)) {
    FUZZ_CHECK(root == "/");
  } else {
    // The directory part less its trailing separators.
    FUZZ_CHECK(std::string_view(parts.directory).starts_with(root));
    FUZZ_CHECK(IsAllSlashes(std::string_view(parts.directory).substr(root.size())));
  }

  // Joining adds exactly one separator when the directory has none at its end, and never a
  // second one.
  const std::string name = parts.name + parts.extension;
  for (const std::string& directory : {root, parts.directory}) {
    const std::string joined = JoinPath(directory, name);
    if (!directory.empty() && directory.back() == '/') {
      FUZZ_CHECK(joined == directory + name);
    } else {
      FUZZ_CHECK(joined == directory + "/" + name);
    }
    const auto doubles = [](std::string_view s) {
      std::size_t n = 0;
      for (std::size_t i = 1; i < s.size(); ++i) n += s[i] == '/' && s[i - 1] == '/';
      return n;
    };
    FUZZ_CHECK(doubles(joined) == doubles(directory));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> args;
  if (!input.empty()) {
    for (std::size_t start = 0;;) {
      const std::size_t end = input.find('\0', start);
      args.push_back(input.substr(start, end - start));
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
  }

  bool anyRecursive = false;
  std::size_t fileSpec = args.size();
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view a = args[i];
    const bool option = !a.empty() && a[0] == '/' && std::count(a.begin(), a.end(), '/') == 1;
    FUZZ_CHECK(IsOption(a) == option);
    if (option && a.size() > 1 && a[1] == 's') anyRecursive = true;
    if (!option && fileSpec == args.size()) fileSpec = i;
    CheckPathRules(a);
  }

  const std::optional<SearchRequest> request = ParseCommandLine(args);
  // The file spec is the first argument that is no option, and the search text the one after it.
  if (fileSpec + 1 >= args.size()) {
    FUZZ_CHECK(!request);
    return 0;
  }
  FUZZ_CHECK(request.has_value());
  FUZZ_CHECK(request->settings.searchText == args[fileSpec + 1]);
  FUZZ_CHECK(request->settings.recursive == anyRecursive);
  const FileSpecParts parts = SplitFileSpec(args[fileSpec]);
  FUZZ_CHECK(request->settings.namePattern == parts.name + parts.extension);
  FUZZ_CHECK(request->root == RootOf(parts.directory));
  return 0;
}
