// Numbered fields of a line, counted from 1, converted to doubles.
#pragma once

#include <cstdint>

#include "input/line_reader.h"

// Field n of a comma-separated line. An empty field, a field without a number, a field
// number below 1 and a field that the line does not reach all yield 0.0.
double fieldByComma(const LineBuffer& line, std::int32_t n);
// The same with the space character (0x20) as the only delimiter.
double fieldBySpace(const LineBuffer& line, std::int32_t n);
