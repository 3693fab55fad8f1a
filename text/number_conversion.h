// Decimal text to double, as the readers of this program understand it: leading white space,
// an optional sign, digits with at most one point, an optional exponent introduced by e, E, d
// or D. Whatever follows the number is ignored; text without a mantissa digit yields 0.0.
// Hexadecimal forms, inf and nan are not numbers here.
#pragma once

#include <cstddef>

namespace empricer {

// `text` ends at its first 0 byte.
double convertNumber(const char* text);

// Length of the number at the start of `text` (after the white space it skips), 0 when there
// is none. Exposed for the tests that compare with the C library.
std::size_t numberPrefixLength(const char* text);

}  // namespace empricer
