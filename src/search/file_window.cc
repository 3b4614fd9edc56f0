#include "search/file_window.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

namespace {

// Runs `grow`, which reserves or resizes the buffer. Should memory run out for it, `reads`
// (when given) give back what they hold for reading ahead, and it runs once more. False when
// memory ran out all the same or the size asked for is beyond what a string holds: the caller
// then goes on with what it has.
template <typename Grow>
bool TryToGrow(FileReads* reads, Grow&& grow) {
  for (bool again = false;; again = true) {
    try {
      grow();
      return true;
    } catch (const std::bad_alloc&) {
      if (again || !reads || !reads->GiveBackMemory()) return false;
    } catch (const std::length_error&) {
      return false;
    }
  }
}

}  // namespace

OpenResult FileWindow::Open(const FileOpener& opener, std::uint64_t mapAtLeast,
                            TextModeStream* translate) {
  // One left open (skipped, mapped, or its search stopped) is closed here, by whoever searches:
  // the reads it came through may be gone.
  file_.Close();
  if (buffer_.capacity() > kKeptBuffer) std::string().swap(buffer_);
  translate_ = translate;
  reads_ = opener.reads;
  data_ = buffer_.data();
  size_ = 0;
  mapped_ = false;
  borrowed_ = false;
  firstRead_ = reads_ != nullptr;
  atEnd_ = false;
  start_ = 0;
  const OpenResult opened = opener.Open(file_, unread_);
  if (opened != OpenResult::Opened) return opened;

  if (!translate_ && mapAtLeast > 0 && unread_ >= mapAtLeast) {
    if (const char* mapping = file_.Map(unread_)) {
      data_ = mapping;
      size_ = static_cast<std::size_t>(unread_);
      mapped_ = true;
      atEnd_ = true;
      unread_ = 0;
      return OpenResult::Opened;
    }
  }
  if (!translate_ && reads_) {
    const std::string_view lent = reads_->LendFirstPart();
    if (!lent.empty()) {
      firstRead_ = false;
      data_ = lent.data();
      size_ = std::min<std::size_t>(lent.size(), static_cast<std::size_t>(unread_));
      unread_ -= size_;
      borrowed_ = true;
      if (unread_ == 0) EndAt(size_);
    }
  }
  while (size_ == 0 && !atEnd_) {
    if (!ReadPart()) return OpenResult::Failed;
  }
  return OpenResult::Opened;
}

bool FileWindow::Own() {
  if (!borrowed_) return true;
  if (buffer_.size() < size_ && !TryToGrow(reads_, [&] { buffer_.resize(size_); })) return false;
  std::memcpy(buffer_.data(), data_, size_);
  data_ = buffer_.data();
  borrowed_ = false;
  return true;
}

void FileWindow::Drop(std::size_t count) {
  count = std::min(count, size_);
  if (mapped_ || borrowed_) data_ += count;
  else std::memmove(buffer_.data(), buffer_.data() + count, size_ - count);
  size_ -= count;
  start_ += count;
  const std::size_t before = size_;
  while (size_ == before && !atEnd_) {
    if (!ReadPart()) EndAt(size_);
  }
}

void FileWindow::TakeInRest(std::uint64_t limit) {
  if (mapped_) {
    if (size_ > limit) return;
    const std::size_t intact =
        static_cast<std::size_t>(std::min<std::uint64_t>(size_, file_.MappedIntact()));
    if (!TryToGrow(reads_, [&] {
          buffer_.clear();
          buffer_.reserve(intact + 1);
        }))
      return;
    // Copied a stretch at a time, each stretch's mapped pages given back once copied, so that
    // the file is not in memory twice.
    for (std::size_t copied = 0; copied < intact;) {
      const std::size_t n = std::min(kCopyStretch, intact - copied);
      buffer_.append(data_ + copied, n);
      file_.ReleaseMapped(data_ + copied, n);
      copied += n;
    }
    // Pages lost while they were copied read as zeros: the content ends where the loss began.
    const std::size_t kept =
        static_cast<std::size_t>(std::min<std::uint64_t>(intact, file_.MappedIntact()));
    CloseFile();
    mapped_ = false;
    data_ = buffer_.data();
    EndAt(kept);
    return;
  }
  // What the reads lent is theirs only until they open the next file or a prompt comes.
  if (!Own()) return;
  if (atEnd_ || size_ + unread_ > limit) return;
  if (!TryToGrow(reads_, [&] { buffer_.reserve(size_ + static_cast<std::size_t>(unread_) + 1); }))
    return;
  while (!atEnd_) {
    if (!ReadPart()) EndAt(size_);
  }
}

void FileWindow::EndAt(std::size_t end) {
  size_ = std::min(size_, end);
  atEnd_ = true;
  if (!mapped_) CloseFile();
}

// Once the file's search has read it all: the reads it was opened through, which are there for
// as long as the search is, close it as they can best.
void FileWindow::CloseFile() {
  if (reads_) reads_->Close(file_);
  else file_.Close();
}

// Appends the next part of the file. False when it could not be read.
bool FileWindow::ReadPart() {
  if (!Own()) return false;
  if (unread_ == 0) {
    if (translate_) size_ += translate_->Flush(buffer_.data() + size_);
    EndAt(size_);
    return true;
  }
  const std::size_t want = unread_ < kPartSize ? static_cast<std::size_t>(unread_) : kPartSize;
  const std::size_t held = translate_ ? translate_->held() : 0;
  if (buffer_.size() < size_ + held + want &&
      !TryToGrow(reads_, [&] { buffer_.resize(size_ + held + want); }))
    return false;
  data_ = buffer_.data();
  char* raw = buffer_.data() + size_;
  if (translate_) translate_->WriteHeld(raw);
  // The file's first read goes through the reads it was opened by (FileReads::ReadFirstPart).
  const std::int64_t got = std::exchange(firstRead_, false)
                               ? reads_->ReadFirstPart(file_, raw + held, want)
                               : file_.Read(raw + held, want);
  if (got < 0) return false;
  if (got == 0) unread_ = 0;  // the file shrank since it was measured
  unread_ -= static_cast<std::uint64_t>(got);
  const std::size_t rawLength = held + static_cast<std::size_t>(got);

  if (!translate_) {
    size_ += rawLength;
  } else {
    bool sawEnd = false;
    size_ += translate_->Translate(raw, rawLength, unread_ == 0, sawEnd);
    if (sawEnd) EndAt(size_);
  }
  if (unread_ == 0 && !atEnd_) return ReadPart();
  return true;
}
