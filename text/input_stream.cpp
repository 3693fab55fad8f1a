#include "text/input_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace empricer {

namespace {

constexpr unsigned char kEndOfFileByte = 0x1A;

// Makes at least `want` raw bytes available from `pos`, unless the file ends first.
void fill(InputStream& s, std::size_t want) {
  if (s.len - s.pos >= want || !isOpen(s)) return;
  if (s.pos > 0) {
    std::memmove(s.buffer, s.buffer + s.pos, s.len - s.pos);
    s.len -= s.pos;
    s.pos = 0;
  }
  if (s.memory != nullptr) {
    const std::size_t n = std::min(s.memoryLeft, sizeof s.buffer - s.len);
    std::memcpy(s.buffer + s.len, s.memory, n);
    s.memory += n;
    s.memoryLeft -= n;
    s.len += n;
    return;
  }
  while (s.len < want && s.len < sizeof s.buffer) {
    ssize_t got = ::read(s.fd, s.buffer + s.len, sizeof s.buffer - s.len);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // the end, or a failing read, which counts as the end
    s.len += static_cast<std::size_t>(got);
  }
}

}  // namespace

InputStream::~InputStream() { closeStream(*this); }

void openForReading(InputStream& stream, const char* path) {
  closeStream(stream);
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    struct stat info;
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
      ::close(fd);
      fd = -1;
    }
  }
  stream.fd = fd;
  if (fd < 0) stream.failure = true;
}

void openFromMemory(InputStream& stream, const char* data, std::size_t size) {
  closeStream(stream);
  // Never a null pointer, so that an empty text still counts as open.
  static constexpr unsigned char kNothing = 0;
  stream.memory = size > 0 ? reinterpret_cast<const unsigned char*>(data) : &kNothing;
  stream.memoryLeft = size;
}

bool isOpen(const InputStream& stream) { return stream.fd >= 0 || stream.memory != nullptr; }

void closeStream(InputStream& stream) {
  if (stream.fd >= 0) ::close(stream.fd);
  stream.fd = -1;
  stream.memory = nullptr;
  stream.memoryLeft = 0;
  stream.endOfFile = false;
  stream.failure = false;
  stream.rawEnded = false;
  stream.started = false;
  stream.pos = stream.len = 0;
}

bool readWholeFile(InputStream& stream, std::string& bytes, std::size_t limit) {
  struct stat info;
  if (stream.fd < 0 || stream.len != 0 || ::fstat(stream.fd, &info) != 0 ||
      !S_ISREG(info.st_mode) || static_cast<std::size_t>(info.st_size) > limit) {
    return false;
  }
  bytes.resize(static_cast<std::size_t>(info.st_size));
  std::size_t got = 0;
  for (;;) {
    if (got == bytes.size()) {
      // The file may have grown since it was looked at. Past the limit, the stream goes back
      // to the file's start for its caller to read it as a stream after all.
      if (bytes.size() >= limit) {
        ::lseek(stream.fd, 0, SEEK_SET);
        bytes.clear();
        return false;
      }
      bytes.resize(std::min(limit, bytes.size() + 65536));
    }
    const ssize_t n = ::read(stream.fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // the end, or a failing read, which counts as the end
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return true;
}

int peekChar(InputStream& s) {
  if (s.rawEnded || !isOpen(s)) return -1;
  if (!s.started) {
    s.started = true;
    fill(s, kByteOrderMark.size());
    if (s.len - s.pos >= kByteOrderMark.size() &&
        std::memcmp(s.buffer + s.pos, kByteOrderMark.data(), kByteOrderMark.size()) == 0) {
      s.pos += kByteOrderMark.size();
    }
  }
  fill(s, 1);
  if (s.pos >= s.len) {
    s.rawEnded = true;
    return -1;
  }
  unsigned char c = s.buffer[s.pos];
  if (c == kEndOfFileByte) {
    s.rawEnded = true;
    return -1;
  }
  if (c == '\r') {
    fill(s, 2);
    if (s.len - s.pos >= 2 && s.buffer[s.pos + 1] == '\n') return '\n';
  }
  return c;
}

void takeChar(InputStream& s) {
  if (s.pos >= s.len) return;
  if (s.buffer[s.pos] == '\r' && s.len - s.pos >= 2 && s.buffer[s.pos + 1] == '\n') {
    s.pos += 2;
  } else {
    s.pos += 1;
  }
}

}  // namespace empricer
