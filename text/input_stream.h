// Reading a text file the way every reader of this program does: byte by byte, with the
// text-mode translation done here (CR LF reads as one newline, a lone CR is an ordinary byte,
// the first 0x1A byte ends the file, a UTF-8 byte-order mark at the very start is no
// character) and with the two sticky flags the readers look at.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace empricer {

struct InputStream {
  InputStream() = default;
  InputStream(const InputStream&) = delete;
  InputStream& operator=(const InputStream&) = delete;
  ~InputStream();

  int fd = -1;
  // Reading from memory instead of a file: the bytes not yet taken into `buffer`.
  const unsigned char* memory = nullptr;
  std::size_t memoryLeft = 0;
  bool endOfFile = false;  // set by the read that reaches the end of the file
  bool failure = false;    // set by a read that stores nothing at the end, and after any flag
  bool rawEnded = false;   // the file has nothing more (end, 0x1A or a failing read)
  bool started = false;    // the byte-order mark at the start has been looked for
  std::size_t pos = 0;
  std::size_t len = 0;
  unsigned char buffer[16384];
};

// Opens an existing regular file read-only. A file that is missing, unreadable or a
// directory leaves the stream not open, with its failure flag set.
void openForReading(InputStream& stream, const char* path);
// Opens the stream on `size` bytes in memory, read exactly as a file of those bytes would be.
// The bytes must stay in place while the stream reads them.
void openFromMemory(InputStream& stream, const char* data, std::size_t size);
bool isOpen(const InputStream& stream);
void closeStream(InputStream& stream);

// For a stream just opened on a regular file of at most `limit` bytes: reads the whole file
// into `bytes` and returns true. Otherwise returns false with the stream still at the file's
// start (a file that grows past the limit while it is read is read again from there).
bool readWholeFile(InputStream& stream, std::string& bytes, std::size_t limit);

// The UTF-8 byte-order mark, as spreadsheets save it at the start of a text file.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The next character after text-mode translation, or -1 at the end of the file.
int peekChar(InputStream& stream);
// Consumes the character that peekChar returned.
void takeChar(InputStream& stream);

}  // namespace empricer
