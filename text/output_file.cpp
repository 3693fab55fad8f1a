#include "text/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace empricer {

namespace {

// The errno value of a failure just reported, never 0.
int lastError() { return errno != 0 ? errno : EIO; }

std::FILE* streamOn(int fd) {
  if (fd < 0) return nullptr;
  std::FILE* stream = ::fdopen(fd, "w");
  if (stream == nullptr) ::close(fd);
  return stream;
}

}  // namespace

std::FILE* openScratchForWriting(const char* path) {
  return streamOn(::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
}

WriteStatus writeLine(std::FILE* stream, std::string_view text) {
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  const bool ended = std::fputc('\n', stream) != EOF;
  const bool flushed = std::fflush(stream) == 0;
  if (written && ended && flushed && !std::ferror(stream)) return {};
  return {lastError()};
}

WriteStatus writeText(std::FILE* stream, std::string_view text) {
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  const bool flushed = std::fflush(stream) == 0;
  if (written && flushed && !std::ferror(stream)) return {};
  return {lastError()};
}

WriteStatus streamStatus(std::FILE* stream) {
  if (!std::ferror(stream)) return {};
  return {lastError()};
}

WriteStatus closeWritten(std::FILE* stream) {
  errno = 0;
  int error = std::fflush(stream) != 0 || std::ferror(stream) ? lastError() : 0;
  if (std::fclose(stream) != 0 && error == 0) error = lastError();
  return {error};
}

RowFile::~RowFile() {
  if (fd_ >= 0) ::close(fd_);
}

Status RowFile::create(const char* path) {
  if (fd_ >= 0) ::close(fd_);
  path_ = path;
  wholeRows_ = 0;
  failed_ = false;
  fd_ = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) return openFailure(path_);
  return {};
}

Status RowFile::writeRow(std::string_view lines) {
  if (failed_ || fd_ < 0) {
    failed_ = true;
    return writeFailure(path_);
  }
  std::size_t written = 0;
  while (written < lines.size()) {
    const ssize_t n = ::write(fd_, lines.data() + written, lines.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      if (written > 0 && ::ftruncate(fd_, static_cast<off_t>(wholeRows_)) != 0) {
        // A device or a pipe cannot be cut: what went through stays there.
      }
      return writeFailure(path_);
    }
    written += static_cast<std::size_t>(n);
  }
  wholeRows_ += static_cast<std::int64_t>(written);
  return {};
}

Status RowFile::close() {
  if (fd_ >= 0) {
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) failed_ = true;
  }
  if (failed_) return writeFailure(path_);
  return {};
}

}  // namespace empricer
