// Numbered fields of a line, counted from 1, converted to doubles.
#pragma once

#include <cstdint>

#include "text/line_reader.h"

namespace empricer {

// Field n of a comma-separated line: the characters after the (n - 1)-th comma up to the
// next comma or the line's end, converted up to the field's first 0 byte. Only the characters
// the read stored are scanned, 0 bytes among them: a 0 byte ends the number of its own field,
// not the line. An empty field, a field without a number, a field number below 1 and a field
// that the line does not reach all yield 0.0.
double fieldByComma(const LineBuffer& line, std::int32_t n);
// The same with the space character (0x20) as the only delimiter.
double fieldBySpace(const LineBuffer& line, std::int32_t n);

}  // namespace empricer
