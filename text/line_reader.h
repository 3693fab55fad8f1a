// One line at a time into a fixed 100-byte buffer: at most 99 characters, the newline taken
// and not stored, a 0 after the stored characters. The rest of the buffer is left as it was.
#pragma once

#include <array>

#include "text/input_stream.h"

namespace empricer {

constexpr int kLineBufferSize = 100;
constexpr int kMaxLineCharacters = 99;

// Zero-filled when created ("LineBuffer line{};"), reused from line to line without clearing.
struct LineBuffer {
  std::array<char, kLineBufferSize> bytes{};
  // The characters the last read stored; bytes[length] is the 0 after them. A stored
  // character may itself be a 0 byte.
  int length = 0;
};

void readLine(InputStream& stream, LineBuffer& line);

// True when the last read stored no character, or a 0 byte first.
inline bool isEmptyLine(const LineBuffer& line) { return line.bytes[0] == 0; }

// The reading loop every reader uses: until the end-of-file flag is set, read a line and hand
// it to `handle` unless it is empty. Only the end-of-file flag ends the loop, so it must only
// run on a stream that is open.
template <typename Handler>
void forEachLine(InputStream& stream, LineBuffer& line, Handler&& handle) {
  while (!stream.endOfFile) {
    readLine(stream, line);
    if (isEmptyLine(line)) continue;
    handle(line);
  }
}

}  // namespace empricer
