#include "input/line_reader.h"

void readLine(InputStream& stream, LineBuffer& line) {
  if (stream.endOfFile || stream.failure) {
    stream.failure = true;
    line[0] = 0;
    return;
  }
  int stored = 0;
  while (stored < kMaxLineCharacters) {
    int c = peekChar(stream);
    if (c < 0) {
      stream.endOfFile = true;
      if (stored == 0) stream.failure = true;
      break;
    }
    takeChar(stream);
    if (c == '\n') break;
    line[stored++] = static_cast<char>(c);
  }
  line[stored] = 0;
}
