// What reading a file does the same way on every platform: the bytes read ahead.
#include "search/file_reader.h"

#include <algorithm>
#include <cstring>
#include <utility>

void InputFile::Adopt(std::intptr_t handle, std::string first) {
  Close();
  handle_ = handle;
  ahead_ = std::move(first);
  aheadTaken_ = 0;
}

std::size_t InputFile::TakeAhead(char* into, std::size_t size) {
  const std::size_t n = std::min(size, ahead_.size() - aheadTaken_);
  std::memcpy(into, ahead_.data() + aheadTaken_, n);
  aheadTaken_ += n;
  return n;
}
