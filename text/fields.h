// Numbered fields of a line, counted from 1: where each lies in the stored characters, and
// the number it reads as.
#pragma once

#include <cstdint>
#include <string_view>

#include "text/line_reader.h"

namespace empricer {

// Where field n of a line lies among the characters the read stored (0 bytes among them):
// after the (n - 1)-th delimiter up to the next delimiter or the line's end, and cut at the
// field's first 0 byte, so that [begin, end) holds exactly the characters the number is read
// from. A 0 byte ends its own field, not the line. Absent (present false, begin = end = 0)
// when the line has fewer than n - 1 delimiters or n is below 1. Whatever an earlier, longer
// line left behind the terminator never belongs to a field.
struct FieldSpan {
  bool present = false;
  int begin = 0;
  int end = 0;
};
FieldSpan fieldSpan(const LineBuffer& line, std::int32_t n, char delimiter);

// The characters of a span of `line` (empty for an absent one).
std::string_view fieldText(const LineBuffer& line, FieldSpan span);
// The number those characters read as; an empty span, a span without a number and an absent
// span all yield 0.0.
double fieldValue(const LineBuffer& line, FieldSpan span);

// Field n of a comma-separated line, converted: fieldValue of its span.
double fieldByComma(const LineBuffer& line, std::int32_t n);
// The same with the space character (0x20) as the only delimiter.
double fieldBySpace(const LineBuffer& line, std::int32_t n);

}  // namespace empricer
