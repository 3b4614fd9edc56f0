// What reading a file does the same way on every platform: taking over a file opened ahead.
#include "search/file_reader.h"


void InputFile::Adopt(std::intptr_t handle, const FirstPartReader* firstPart) {
  Close();
  handle_ = handle;
  firstPart_ = firstPart;
}
