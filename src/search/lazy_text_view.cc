#include "search/lazy_text_view.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kLookAhead = std::size_t{16} << 10;

}  // namespace

std::size_t LazyTextView::LookAhead() const { return window_.mapped() ? 0 : kLookAhead; }

std::size_t LazyTextView::BeforeDrop(std::size_t count) {
  CheckEndBefore(count);
  const std::size_t size = window_.size();
  count = std::min(count, size);
  if (count > counted_) {
    dropped_ += CrLfPairs(counted_, std::min(count + 1, size));
    counted_ = count;
  }
  counted_ = counted_ > count ? counted_ - count : 0;
  checked_ = checked_ > count ? checked_ - count : 0;
  noCrBefore_ = noCrBefore_ > count ? noCrBefore_ - count : 0;
  return count;
}

std::uint64_t LazyTextView::CrLfPairs(std::size_t from, std::size_t to) {
  // A pair counts when its CR stands before to - 1.
  if (to <= from + 1 || to - 1 <= noCrBefore_) return 0;
  if (LookAhead() == 0) return CountCrLf(window_.bytes().substr(from, to - from));
  const std::size_t size = window_.size();
  const std::size_t start = std::max(from, noCrBefore_);
  const std::size_t until = std::min(size, std::max(to - 1, start + LookAhead()));
  const char* data = window_.data();
  const void* cr = std::memchr(data + start, '\r', until - start);
  noCrBefore_ = cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - data) : until;
  if (to - 1 <= noCrBefore_) return 0;
  return CountCrLf(window_.bytes().substr(noCrBefore_, to - noCrBefore_));
}

// Finds out whether the content ends (a byte 26, or a mapped file cut short) before window
// byte `limit`.
void LazyTextView::CheckEndBefore(std::size_t limit) {
  if (window_.mapped()) {
    const std::uint64_t intact = window_.MappedIntact();
    if (intact < window_.size()) window_.EndAt(static_cast<std::size_t>(intact));
  }
  const std::size_t size = window_.size();
  checked_ = std::min(checked_, size);
  limit = std::min(limit, size);
  if (limit <= checked_) return;
  const std::size_t until = std::min(size, std::max(limit, checked_ + LookAhead()));
  const char* data = window_.data();
  if (const void* eot = std::memchr(data + checked_, kEndOfText, until - checked_)) {
    window_.EndAt(static_cast<std::size_t>(static_cast<const char*>(eot) - data));
    checked_ = window_.size();
    return;
  }
  checked_ = until;
}

// Whether the content drops the CR at window byte `k` (it stands before an LF).
bool LazyTextView::DropsCrAt(std::size_t k) const {
  const char* data = window_.data();
  return data[k] == '\r' && k + 1 < window_.size() && data[k + 1] == '\n';
}

LocateResult LazyTextView::Locate(std::size_t at, std::size_t length, std::uint64_t& position) {
  CheckEndBefore(at + length);
  if (at + length > window_.size()) return LocateResult::ContentEnds;
  if (length > 0 && DropsCrAt(at + length - 1)) return LocateResult::NotOne;
  // The search text holds no LF, so no dropped CR stands inside the run; count those before it.
  if (at > counted_) {
    dropped_ += CrLfPairs(counted_, at + 1);
    counted_ = at;
  }
  position = window_.start() + at - dropped_;
  return LocateResult::Occurrence;
}

MatchView LazyTextView::Segments(std::size_t at, std::size_t length, std::size_t width) {
  const char* data = window_.data();
  before_.clear();
  for (std::size_t k = at; k > 0 && before_.size() < width;) {
    --k;
    if (!DropsCrAt(k)) before_.push_back(data[k]);
  }
  std::reverse(before_.begin(), before_.end());

  const std::size_t matchEnd = at + length;
  // The context after may not run past the end of the content, which is settled as far as it
  // needs.
  CheckEndBefore(std::min(window_.size(), matchEnd + Reach(width)));
  after_.clear();
  for (std::size_t k = matchEnd; k < window_.size() && after_.size() < width; ++k) {
    if (!DropsCrAt(k)) after_.push_back(data[k]);
  }
  return {before_, window_.bytes().substr(at, length), after_};
}
