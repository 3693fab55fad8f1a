#include "text/fields.h"

#include <cstddef>
#include <cstring>

#include "text/number_conversion.h"

namespace empricer {

FieldSpan fieldSpan(const LineBuffer& line, std::int32_t n, char delimiter) {
  if (n < 1) return {};
  const std::int64_t wanted = static_cast<std::int64_t>(n) - 1;  // delimiters before the field
  std::int64_t count = 0;
  int p = 0;
  while (count < wanted && p < line.length) {
    if (line.bytes[static_cast<std::size_t>(p++)] == delimiter) ++count;
  }
  if (count < wanted) return {};
  const int begin = p;
  while (p < line.length) {
    const char c = line.bytes[static_cast<std::size_t>(p)];
    if (c == delimiter || c == 0) break;
    ++p;
  }
  return {true, begin, p};
}

std::string_view fieldText(const LineBuffer& line, FieldSpan span) {
  return std::string_view(line.bytes.data() + span.begin,
                          static_cast<std::size_t>(span.end - span.begin));
}

double fieldValue(const LineBuffer& line, FieldSpan span) {
  if (!span.present) return 0.0;
  // A span holds at most 99 characters, so the copy keeps a 0 after them.
  char field[kLineBufferSize] = {};
  const std::string_view text = fieldText(line, span);
  std::memcpy(field, text.data(), text.size());
  return convertNumber(field);
}

double fieldByComma(const LineBuffer& line, std::int32_t n) {
  return fieldValue(line, fieldSpan(line, n, ','));
}

double fieldBySpace(const LineBuffer& line, std::int32_t n) {
  return fieldValue(line, fieldSpan(line, n, ' '));
}

}  // namespace empricer
