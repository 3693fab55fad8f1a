// The field extractors and the number conversion. The conversion must read the same prefix
// as the C library's strtod (with d and D as exponent letters, and without strtod's
// hexadecimal, inf and nan forms) and give the same bits. A field must be the text between
// its delimiters among the characters the read stored (0 bytes among them), converted up to
// its first 0, whatever the buffer holds after the line's terminator; the field's span must
// hold exactly those characters.
//
// Input: byte 0 chooses the field number, byte 1 the number of stored characters (where the
// line's terminating 0 goes); the rest fills the 100-byte line buffer (the bytes after the
// terminator stand for an earlier, longer line) and, whole, is the text for the conversion.
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "fuzz/harness.h"
#include "fuzz/reference.h"
#include "text/fields.h"
#include "text/line_reader.h"
#include "text/number_conversion.h"

using namespace empricer;

namespace {

std::int32_t fieldNumber(unsigned char b) {
  switch (b) {
    case 0xff: return INT32_MAX;
    case 0xfe: return INT32_MIN;
    case 0xfd: return INT32_MAX - 1;
    default: return static_cast<std::int32_t>(b % 48) - 2;  // -2 .. 45
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::int32_t n = fieldNumber(data[0]);
  const std::string rest(reinterpret_cast<const char*>(data) + 2, size - 2);

  // The conversion over the whole text (up to its first 0).
  {
    std::size_t wantLength = 0;
    const double want = reference::convert(rest, &wantLength);
    const std::string text = rest.substr(0, rest.find('\0'));
    const double got = convertNumber(text.c_str());
    FUZZ_CHECK(reference::sameBits(got, want),
               harness::printable(text) + " got " + harness::hexText(got) + " want " +
                   harness::hexText(want));
    FUZZ_CHECK(numberPrefixLength(text.c_str()) == wantLength, harness::printable(text));
  }

  // The fields of a line buffer.
  LineBuffer line{};
  std::memcpy(line.bytes.data(), rest.data(),
              std::min<std::size_t>(rest.size(), kLineBufferSize));
  line.length = data[1] % kLineBufferSize;
  line.bytes[static_cast<std::size_t>(line.length)] = 0;
  const std::string_view view(line.bytes.data(), kLineBufferSize);
  const std::string_view stored = view.substr(0, static_cast<std::size_t>(line.length));
  const double comma = fieldByComma(line, n);
  const double space = fieldBySpace(line, n);
  const double wantComma = reference::field(stored, ',', n);
  const double wantSpace = reference::field(stored, ' ', n);
  FUZZ_CHECK(reference::sameBits(comma, wantComma),
             "comma field " + std::to_string(n) + " of " + harness::printable(view) + " got " +
                 harness::hexText(comma) + " want " + harness::hexText(wantComma));
  FUZZ_CHECK(reference::sameBits(space, wantSpace),
             "space field " + std::to_string(n) + " of " + harness::printable(view) + " got " +
                 harness::hexText(space) + " want " + harness::hexText(wantSpace));

  // The span: where the field lies, its characters up to the first 0 byte.
  for (const char delimiter : {',', ' '}) {
    const FieldSpan span = fieldSpan(line, n, delimiter);
    const std::optional<std::string> want = reference::fieldText(stored, delimiter, n);
    const std::string got(fieldText(line, span));
    FUZZ_CHECK(span.present == want.has_value() && got == want.value_or(""),
               std::string("span of field ") + std::to_string(n) + " by '" + delimiter + "' of " +
                   harness::printable(view) + " got " + harness::printable(got) + " want " +
                   (want ? harness::printable(*want) : std::string("none")));
    FUZZ_CHECK(0 <= span.begin && span.begin <= span.end && span.end <= line.length,
               harness::printable(view));
  }
  return 0;
}
