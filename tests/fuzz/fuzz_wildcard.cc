// MatchWildcard against the rule written out as a plain recursive matcher. The input is the
// pattern and the name, separated by the first NUL byte; both are kept short, so that the
// reference (memoised, but otherwise the definition as it stands) stays fast.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "app/wildcard.h"
#include "fuzz_check.h"

namespace {

constexpr std::size_t kMaxLength = 64;

unsigned char Fold(char c) {
  const auto b = static_cast<unsigned char>(c);
  return (b >= 'A' && b <= 'Z') ? static_cast<unsigned char>(b + 32) : b;
}

class Reference {
 public:
  Reference(std::string_view pattern, std::string_view name)
      : pattern_(pattern), name_(name), lastDot_(name.rfind('.')),
        memo_((pattern.size() + 1) * (name.size() + 1), -1) {}

  // Whether pattern[p..] matches name[n..], by the rules as the header states them: '*' any
  // run, but not over the name's last dot when a '.' follows it; '?' one byte but a dot, or
  // nothing at a dot or the end; a '.' at the end or before '*' or '?' a dot or the end;
  // letters either case, anything else itself.
  FUZZ_REFERENCE bool Match(std::size_t p, std::size_t n) {
    signed char& known = memo_[p * (name_.size() + 1) + n];
    if (known >= 0) return known;
    const bool nameEnded = n == name_.size();
    const bool atDot = !nameEnded && name_[n] == '.';
    bool result;
    if (p == pattern_.size()) {
      result = nameEnded;
    } else {
      const char c = pattern_[p];
      const bool lastInPattern = p + 1 == pattern_.size();
      const char after = lastInPattern ? '\0' : pattern_[p + 1];
      if (c == '*') {
        const bool mayTake = !nameEnded && !(after == '.' && atDot && n == lastDot_);
        result = Match(p + 1, n) || (mayTake && Match(p, n + 1));
      } else if (c == '?') {
        result = (nameEnded || atDot) ? Match(p + 1, n) : Match(p + 1, n + 1);
      } else if (c == '.' && (lastInPattern || after == '*' || after == '?')) {
        result = nameEnded ? Match(p + 1, n) : (atDot && Match(p + 1, n + 1));
      } else {
        result = !nameEnded && Fold(c) == Fold(name_[n]) && Match(p + 1, n + 1);
      }
    }
    known = result;
    return result;
  }

 private:
  std::string_view pattern_, name_;
  std::size_t lastDot_;
  std::vector<signed char> memo_;
};

FUZZ_REFERENCE bool ReferenceMatch(std::string_view pattern, std::string_view name) {
  return Reference(pattern, name).Match(0, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = input.find('\0');
  if (cut == std::string_view::npos) return 0;
  const std::string_view pattern = input.substr(0, cut);
  const std::string_view name = input.substr(cut + 1);
  if (pattern.size() > kMaxLength || name.size() > kMaxLength) return 0;
  FUZZ_CHECK(MatchWildcard(pattern, name) == ReferenceMatch(pattern, name));
  return 0;
}
