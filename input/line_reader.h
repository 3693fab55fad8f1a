// One line at a time into a fixed 100-byte buffer: at most 99 characters, the newline taken
// and not stored, a 0 after the stored characters. The rest of the buffer is left as it was.
#pragma once

#include <array>

#include "input/input_stream.h"

constexpr int kLineBufferSize = 100;
constexpr int kMaxLineCharacters = 99;

// Zero-filled when created ("LineBuffer line{};"), reused from line to line without clearing.
using LineBuffer = std::array<char, kLineBufferSize>;

void readLine(InputStream& stream, LineBuffer& line);

// True when the last read stored no character.
inline bool isEmptyLine(const LineBuffer& line) { return line[0] == 0; }

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
