// Writing text, with every write checked. Lines to a stream are flushed one at a time, so a run
// that is cut off leaves every finished line in place. A file of rows (RowFile) takes each row
// in one piece and never keeps a partial line: a write that fails is cut back to the last
// whole row. Failures come back as values; what to do about them is the caller's business.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "text/status.h"

namespace empricer {

// How a write to a stream went: the errno value of the first failure, or 0 when everything
// went through. The stream functions below give it rather than a Status: a stream does not
// know its name, standard output's failure (standardOutputFailure, text/status.h) is made
// from this number, and a caller may leave it unread, since the failure also stays in the
// stream's error indicator.
struct WriteStatus {
  int error = 0;
  bool ok() const { return error == 0; }
};

// Creates a scratch file of the program's own name or truncates it to empty; nullptr when that
// is not possible. A symbolic link at `path` is never followed (nor its target touched), and
// counts as a file that cannot be created.
std::FILE* openScratchForWriting(const char* path);

// `text` and a line end, flushed. A failure also stays in the stream's error indicator, so a
// caller that does not look at the result finds it with streamStatus.
WriteStatus writeLine(std::FILE* stream, std::string_view text);
// Text without a line end, flushed (prompts).
WriteStatus writeText(std::FILE* stream, std::string_view text);
// Whether every write to the stream so far went through (its error indicator): when one
// failed, the reason is the last failure the system reported (EIO when there is none).
WriteStatus streamStatus(std::FILE* stream);
// Flushes and closes the stream: the first failure of its writes, the flush or the close.
WriteStatus closeWritten(std::FILE* stream);

// A file written one row at a time, a row being one or more whole lines, each with its line
// end. A row goes to the system in one piece, with nothing held back in a buffer. When a write
// fails, the file is cut back to the end of the last whole row (a file that cannot be cut, such
// as a device or a pipe, keeps what went through) and every later write fails at once.
class RowFile {
 public:
  RowFile() = default;
  ~RowFile();  // closes the file, unchecked: call close() to learn how it went
  RowFile(const RowFile&) = delete;
  RowFile& operator=(const RowFile&) = delete;

  // Creates the file at `path` or truncates it to empty, following a symbolic link (the user
  // may point the name anywhere). Fails with "Error opening file: " and `path` (cannotOpen)
  // when that is not possible.
  Status create(const char* path);
  const std::string& path() const { return path_; }

  // Fails with "Error writing file: " and the path (cannotWrite).
  Status writeRow(std::string_view lines);
  // Closes the file: fails as writeRow does when any write or the close failed.
  Status close();

 private:
  std::string path_;
  int fd_ = -1;
  std::int64_t wholeRows_ = 0;  // bytes of the rows written whole
  bool failed_ = false;  // a write or the close failed
};

}  // namespace empricer
