#include "input/fields.h"

#include "input/number_conversion.h"

namespace {

double fieldByDelimiter(const LineBuffer& line, std::int32_t n, char delimiter) {
  if (n < 1) return 0.0;
  const std::int64_t wanted = static_cast<std::int64_t>(n) - 1;  // delimiters before the field
  char field[kLineBufferSize] = {};
  std::int64_t count = 0;
  int write = 0;
  for (int p = 0; p < kLineBufferSize; ++p) {
    const char c = line[p];
    // The line ends at its first 0 byte; whatever an earlier line left behind it is never
    // part of a field.
    if (c == 0) break;
    if (c == delimiter) {
      ++count;
      if (count > wanted) break;
      continue;
    }
    if (count == wanted && write < kLineBufferSize - 1) field[write++] = c;
  }
  if (count < wanted) return 0.0;
  return convertNumber(field);
}

}  // namespace

double fieldByComma(const LineBuffer& line, std::int32_t n) {
  return fieldByDelimiter(line, n, ',');
}

double fieldBySpace(const LineBuffer& line, std::int32_t n) {
  return fieldByDelimiter(line, n, ' ');
}
