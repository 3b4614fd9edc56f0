#include "search/content_stream.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "search/text_mode.h"

OpenResult ContentStream::Open(const std::string& path, bool knownRegular) {
  size_ = 0;
  start_ = 0;
  heldCr_ = false;
  atEnd_ = false;
  const OpenResult opened = file_.Open(path, knownRegular, unread_);
  if (opened != OpenResult::Opened) return opened;
  if (!ReadPart()) return OpenResult::Failed;
  while (size_ == 0 && !atEnd_) {
    if (!ReadPart()) return OpenResult::Failed;
  }
  return OpenResult::Opened;
}

void ContentStream::Advance(std::size_t keep) {
  if (keep > size_) keep = size_;
  std::memmove(buffer_.data(), buffer_.data() + keep, size_ - keep);
  size_ -= keep;
  start_ += keep;
  const std::size_t before = size_;
  while (size_ == before && !atEnd_) {
    if (!ReadPart()) atEnd_ = true;
  }
}

// Appends the next part of the file, translated. False when it could not be read.
bool ContentStream::ReadPart() {
  if (unread_ == 0) {
    // The measured length is read. A CR held back has no LF after it: it is content.
    if (heldCr_) buffer_[size_++] = '\r';
    heldCr_ = false;
    atEnd_ = true;
    file_.Close();
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
  char* raw = buffer_.data() + size_;
  if (heldCr_) raw[0] = '\r';
  const std::int64_t got = file_.Read(raw + held, want);
  if (got < 0) return false;
  if (got == 0) unread_ = 0;  // the file shrank since it was measured
  unread_ -= static_cast<std::uint64_t>(got);

  std::size_t rawLength = held + static_cast<std::size_t>(got);
  // A CR at the very end may pair with an LF in the next part: hold it back till then.
  heldCr_ = unread_ > 0 && rawLength > 0 && raw[rawLength - 1] == '\r';
  if (heldCr_) --rawLength;
  bool sawEnd = false;
  size_ += TranslateTextMode(raw, rawLength, sawEnd);
  if (sawEnd) {
    atEnd_ = true;
    file_.Close();
  } else if (unread_ == 0) {
    return ReadPart();
  }
  return true;
}
