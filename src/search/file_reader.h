// Platform seam: reading one file's bytes. One implementation per platform.
#ifndef QZ_SEARCH_FILE_READER_H_
#define QZ_SEARCH_FILE_READER_H_

#include <string>

enum class ReadResult {
  Loaded,     // `bytes` holds the file's content
  NotOpened,  // missing, not a regular file, access denied: the file is passed over unseen
  Failed,     // opened, but could not be measured, allocated or read: passed over as well
};

// Opens `path` for reading only, if it names a regular file (a link to one counts), measures it
// and reads up to that many bytes into `bytes`, raw, with no translation. Never opens a FIFO,
// socket or device in a way that could block, never writes, and holds the file open only for
// the duration of the call.
ReadResult ReadWholeFile(const std::string& path, std::string& bytes);

#endif  // QZ_SEARCH_FILE_READER_H_
