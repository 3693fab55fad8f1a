// The line reader and the reading loop over arbitrary bytes. Every read must store exactly
// what the text-mode model says (at most 99 characters, no newline, no CR of a CR LF pair,
// nothing from the first 0x1A on, no byte-order mark at the start), put a 0 right after
// them, leave the rest of the buffer as it was, set the flags on the right read, and the loop
// must end.
//
// Input: one control byte, then the file's bytes. With bit 7 of the control byte set, lines
// of padding come first so that the input starts just before the reader's 16 KiB block
// boundary (bits 0-2 choose how far before it).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/harness.h"
#include "fuzz/reference.h"
#include "text/input_stream.h"
#include "text/line_reader.h"

using namespace empricer;

namespace {

std::string padding(unsigned char control) {
  if ((control & 0x80) == 0) return {};
  const std::size_t length = 16384 - (control & 0x07);
  std::string pad;
  while (pad.size() < length) {
    pad.append(std::min<std::size_t>(60, length - pad.size()), 'p');
    if (pad.size() < length) pad.push_back('\n');
  }
  return pad;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  harness::setUpProcess();
  if (size == 0) return 0;
  const std::string bytes =
      padding(data[0]) + std::string(reinterpret_cast<const char*>(data) + 1, size - 1);
  harness::writeFile("lines.txt", bytes);
  const std::vector<std::string> expected = reference::allReads(bytes);

  // Read by read, with a buffer that starts full of a marker byte.
  {
    InputStream stream;
    openForReading(stream, "lines.txt");
    FUZZ_CHECK(isOpen(stream), "");
    LineBuffer line;
    line.bytes.fill('\x5a');
    std::size_t reads = 0;
    while (!stream.endOfFile) {
      FUZZ_CHECK(reads < expected.size(), "more reads than the text has lines");
      const LineBuffer before = line;
      readLine(stream, line);
      const std::string& want = expected[reads];
      const std::size_t k = want.size();
      FUZZ_CHECK(k <= 99, "");
      FUZZ_CHECK(std::memcmp(line.bytes.data(), want.data(), k) == 0,
                 "read " + std::to_string(reads) + ": want " + harness::printable(want) +
                     " got " + harness::printable(std::string(line.bytes.data(), k)));
      FUZZ_CHECK(line.bytes[k] == 0, "no 0 after the stored characters");
      FUZZ_CHECK(line.length == static_cast<int>(k), "stored length");
      FUZZ_CHECK(std::memcmp(line.bytes.data() + k + 1, before.bytes.data() + k + 1, 99 - k) == 0,
                 "bytes after the terminator changed");
      const bool last = reads + 1 == expected.size();
      FUZZ_CHECK(stream.endOfFile == last, "end of file on the wrong read");
      FUZZ_CHECK(stream.failure == (last && k == 0), "failure flag on the wrong read");
      ++reads;
    }
    FUZZ_CHECK(reads == expected.size(), "fewer reads than the text has lines");
    // A read after the end stores nothing, changes only byte 0 and sets the failure flag.
    const LineBuffer before = line;
    readLine(stream, line);
    FUZZ_CHECK(line.bytes[0] == 0 && line.length == 0 && stream.failure && stream.endOfFile, "");
    FUZZ_CHECK(std::memcmp(line.bytes.data() + 1, before.bytes.data() + 1, 99) == 0, "");
  }

  // The loop itself hands over the non-empty lines.
  {
    InputStream stream;
    openForReading(stream, "lines.txt");
    LineBuffer line{};
    std::vector<std::string> handed;
    forEachLine(stream, line, [&](const LineBuffer& text) {
      FUZZ_CHECK(handed.size() < expected.size(), "the loop does not end");
      handed.emplace_back(text.bytes.data(), static_cast<std::size_t>(text.length));
    });
    FUZZ_CHECK(handed == reference::handedLines(bytes), "handed lines differ");
  }
  return 0;
}
