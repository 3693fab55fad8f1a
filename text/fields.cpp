#include "text/fields.h"

#include "text/number_conversion.h"

namespace empricer {

namespace {

double fieldByDelimiter(const LineBuffer& line, std::int32_t n, char delimiter) {
  if (n < 1) return 0.0;
  const std::int64_t wanted = static_cast<std::int64_t>(n) - 1;  // delimiters before the field
  // Never more than 99 characters are copied, so the field keeps a 0 after them.
  char field[kLineBufferSize] = {};
  std::int64_t count = 0;
  int write = 0;
  // Whatever an earlier, longer line left behind the terminator is never part of a field.
  for (int p = 0; p < line.length; ++p) {
    const char c = line.bytes[static_cast<std::size_t>(p)];
    if (c == delimiter) {
      ++count;
      if (count > wanted) break;
      continue;
    }
    if (count == wanted) field[write++] = c;
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

}  // namespace empricer
