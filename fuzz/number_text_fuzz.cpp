// The number text. It must match the C library's %.6g except for the exponent, which has at
// least three digits, and reading it back must give the value rounded to six significant
// digits (what strtod makes of %.5e).
//
// Input: 8 bytes as the bits of a double; with more bytes, also the same bytes as a 64-bit
// integer, and that integer scaled by a power of two, so that exact decimal ties come up.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/harness.h"
#include "text/number_text.h"

using namespace empricer;

namespace {

// %.6g with the exponent written with at least three digits.
std::string libraryText(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6g", value);
  std::string s = text;
  const std::size_t e = s.find('e');
  if (e == std::string::npos) return s;
  std::string digits = s.substr(e + 2);
  while (digits.size() < 3) digits.insert(digits.begin(), '0');
  return s.substr(0, e + 2) + digits;
}

void check(double value) {
  char out[kNumberTextCapacity + 1];
  const int n = formatDouble(value, out);
  FUZZ_CHECK(n > 0 && n <= kNumberTextCapacity, std::to_string(n));
  out[n] = 0;
  const std::string got(out, static_cast<std::size_t>(n));
  const std::string want = libraryText(value);
  FUZZ_CHECK(got == want, harness::hexText(value) + " got " + got + " want " + want);
  if (!std::isfinite(value)) return;
  char rounded[64];
  std::snprintf(rounded, sizeof rounded, "%.5e", value);
  const double back = std::strtod(out, nullptr);
  const double six = std::strtod(rounded, nullptr);
  FUZZ_CHECK(std::memcmp(&back, &six, sizeof back) == 0,
             harness::hexText(value) + " reads back as " + got + " not " + rounded);
  std::string appended = "x";
  appendNumber(appended, value);
  FUZZ_CHECK(appended == "x" + got, appended);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  double value;
  std::memcpy(&value, data, sizeof value);
  check(value);
  if (size >= 9) {
    std::int64_t whole;
    std::memcpy(&whole, data, sizeof whole);
    check(static_cast<double>(whole));
    check(static_cast<double>(whole >> (data[8] % 64)));
    check(std::ldexp(static_cast<double>(whole >> 40), static_cast<int>(data[8] % 64) - 40));
  }
  return 0;
}
