// Number text of every report and file: doubles as printf's %.6g writes them, except that the
// exponent of the scientific form has at least three digits (1e-005, 1.23457e+006);
// integers in plain decimal.
#pragma once

#include <cstdint>
#include <string>

namespace empricer {

// Longest text: "-1.23457e-308" and the like, well under this.
constexpr int kNumberTextCapacity = 32;

// Writes the text of `value` into `out` (no terminating 0) and returns its length.
int formatDouble(double value, char* out);
void appendNumber(std::string& text, double value);
void appendInteger(std::string& text, std::int64_t value);
std::string numberText(double value);
// The shortest text that reads back to `value`; "nan", "inf" or "-inf" when not finite.
void appendShortest(std::string& text, double value);

}  // namespace empricer
