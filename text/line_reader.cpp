#include "text/line_reader.h"

namespace empricer {

void readLine(InputStream& stream, LineBuffer& line) {
  int stored = 0;
  if (stream.endOfFile || stream.failure) {
    stream.failure = true;
  } else {
    while (stored < kMaxLineCharacters) {
      const int c = peekChar(stream);
      if (c < 0) {
        stream.endOfFile = true;
        if (stored == 0) stream.failure = true;
        break;
      }
      takeChar(stream);
      if (c == '\n') break;
      line.bytes[static_cast<std::size_t>(stored++)] = static_cast<char>(c);
    }
  }
  line.bytes[static_cast<std::size_t>(stored)] = 0;
  line.length = stored;
}

}  // namespace empricer
