#include "search/content_stream.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "search/scanner.h"
#include "search/text_mode.h"

namespace {

constexpr char kEndOfText = 26;

}  // namespace

OpenResult ContentStream::Open(const std::string& path, bool knownRegular, bool lazyTextMode) {
  file_.Close();
  if (buffer_.capacity() > kKeptBuffer) std::string().swap(buffer_);
  data_ = buffer_.data();
  size_ = 0;
  mapped_ = false;
  lazy_ = lazyTextMode;
  atEnd_ = false;
  start_ = 0;
  heldCr_ = false;
  checked_ = counted_ = 0;
  dropped_ = 0;
  const OpenResult opened = file_.Open(path, knownRegular, unread_);
  if (opened != OpenResult::Opened) return opened;

  if (lazy_ && unread_ >= kMapThreshold) {
    if (const char* mapping = file_.Map(unread_)) {
      data_ = mapping;
      size_ = static_cast<std::size_t>(unread_);
      mapped_ = true;
      atEnd_ = true;
      unread_ = 0;
      return OpenResult::Opened;
    }
  }
  while (size_ == 0 && !atEnd_) {
    if (!ReadPart()) return OpenResult::Failed;
  }
  return OpenResult::Opened;
}

std::size_t ContentStream::Advance(std::size_t keep) {
  if (atEnd_) return 0;
  // What leaves the window must be settled first: where the content ends (which may shorten
  // the window), and how many CRs it dropped. A CR LF pair across the cut is counted with the
  // bytes before it.
  if (lazy_) CheckEndBefore(keep);
  keep = std::min(keep, size_);
  if (lazy_) {
    if (keep > counted_) {
      dropped_ += CountCrLf(window().substr(counted_, std::min(keep + 1, size_) - counted_));
      counted_ = keep;
    }
    counted_ = counted_ > keep ? counted_ - keep : 0;
    checked_ = checked_ > keep ? checked_ - keep : 0;
  }
  std::memmove(buffer_.data(), buffer_.data() + keep, size_ - keep);
  size_ -= keep;
  start_ += keep;
  const std::size_t before = size_;
  while (size_ == before && !atEnd_) {
    if (!ReadPart()) EndAt(size_);
  }
  return keep;
}

void ContentStream::TakeInRest() {
  if (mapped_) {
    if (size_ > kSnapshotLimit) return;
    const std::size_t intact =
        static_cast<std::size_t>(std::min<std::uint64_t>(size_, file_.MappedIntact()));
    try {
      buffer_.assign(data_, intact);
    } catch (const std::bad_alloc&) {
      return;
    } catch (const std::length_error&) {
      return;
    }
    // Pages lost while they were copied read as zeros: the content ends where the loss began.
    const std::size_t kept =
        static_cast<std::size_t>(std::min<std::uint64_t>(intact, file_.MappedIntact()));
    file_.Close();
    mapped_ = false;
    data_ = buffer_.data();
    EndAt(kept);
    return;
  }
  if (atEnd_ || size_ + unread_ > kSnapshotLimit) return;
  try {
    buffer_.reserve(size_ + static_cast<std::size_t>(unread_) + 1);
  } catch (const std::bad_alloc&) {
    return;
  } catch (const std::length_error&) {
    return;
  }
  while (!atEnd_) {
    if (!ReadPart()) EndAt(size_);
  }
}

// Appends the next part of the file. False when it could not be read.
bool ContentStream::ReadPart() {
  if (unread_ == 0) {
    // The measured length is read. A CR held back has no LF after it: it is content.
    if (heldCr_) buffer_[size_++] = '\r';
    heldCr_ = false;
    EndAt(size_);
    return true;
  }
  const std::size_t want = unread_ < kPartSize ? static_cast<std::size_t>(unread_) : kPartSize;
  const std::size_t held = heldCr_ ? 1 : 0;
  try {
    if (buffer_.size() < size_ + held + want) buffer_.resize(size_ + held + want);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  data_ = buffer_.data();
  char* raw = buffer_.data() + size_;
  if (heldCr_) raw[0] = '\r';
  const std::int64_t got = file_.Read(raw + held, want);
  if (got < 0) return false;
  if (got == 0) unread_ = 0;  // the file shrank since it was measured
  unread_ -= static_cast<std::uint64_t>(got);
  std::size_t rawLength = held + static_cast<std::size_t>(got);

  if (lazy_) {
    size_ += rawLength;
  } else {
    // A CR at the very end may pair with an LF in the next part: hold it back till then.
    heldCr_ = unread_ > 0 && rawLength > 0 && raw[rawLength - 1] == '\r';
    if (heldCr_) --rawLength;
    bool sawEnd = false;
    size_ += TranslateTextMode(raw, rawLength, sawEnd);
    if (sawEnd) EndAt(size_);
  }
  if (unread_ == 0 && !atEnd_) return ReadPart();
  return true;
}

// The content ends at window byte `end`.
void ContentStream::EndAt(std::size_t end) {
  size_ = std::min(size_, end);
  checked_ = std::min(checked_, size_);
  atEnd_ = true;
  if (!mapped_) file_.Close();
}

// Lazy mode: finds out whether the content ends (a byte 26, or a mapped file cut short) before
// window byte `limit`.
void ContentStream::CheckEndBefore(std::size_t limit) {
  if (mapped_) {
    const std::uint64_t intact = file_.MappedIntact();
    if (intact < size_) EndAt(static_cast<std::size_t>(intact));
  }
  limit = std::min(limit, size_);
  if (limit <= checked_) return;
  if (const void* eot = std::memchr(data_ + checked_, kEndOfText, limit - checked_)) {
    EndAt(static_cast<std::size_t>(static_cast<const char*>(eot) - data_));
    return;
  }
  checked_ = limit;
}

// Lazy mode: whether the content drops the CR at window byte `k` (it stands before an LF).
bool ContentStream::DropsCrAt(std::size_t k) const {
  return data_[k] == '\r' && k + 1 < size_ && data_[k + 1] == '\n';
}

ContentStream::Found ContentStream::Locate(std::size_t at, std::size_t length,
                                           std::uint64_t& position) {
  if (!lazy_) {
    position = start_ + at;
    return Found::Occurrence;
  }
  CheckEndBefore(at + length);
  if (at + length > size_) return Found::ContentEnds;
  if (length > 0 && DropsCrAt(at + length - 1)) return Found::NotOne;
  // The search text holds no LF, so no dropped CR stands inside the run; count those before it.
  if (at > counted_) {
    dropped_ += CountCrLf(window().substr(counted_, at - counted_ + 1));
    counted_ = at;
  }
  position = start_ + at - dropped_;
  return Found::Occurrence;
}

MatchView ContentStream::Segments(std::size_t at, std::size_t length, std::size_t width) {
  const std::string_view w = window();
  if (!lazy_) {
    const std::size_t before = at > width ? at - width : 0;
    const std::size_t matchEnd = std::min(w.size(), at + length);
    const std::size_t afterEnd = std::min(w.size(), matchEnd + width);
    return {w.substr(before, at - before), w.substr(at, matchEnd - at),
            w.substr(matchEnd, afterEnd - matchEnd)};
  }
  before_.clear();
  for (std::size_t k = at; k > 0 && before_.size() < width;) {
    --k;
    if (!DropsCrAt(k)) before_.push_back(data_[k]);
  }
  std::reverse(before_.begin(), before_.end());

  const std::size_t matchEnd = at + length;
  // The context after may not run past the end of the content, which is settled as far as
  // it needs.
  CheckEndBefore(std::min(size_, matchEnd + Reach(width)));
  after_.clear();
  for (std::size_t k = matchEnd; k < size_ && after_.size() < width; ++k) {
    if (!DropsCrAt(k)) after_.push_back(data_[k]);
  }
  return {before_, w.substr(at, length), after_};
}
