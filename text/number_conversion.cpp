#include "text/number_conversion.h"

#include <cstdlib>
#include <string>

namespace empricer {

namespace {

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isExponentLetter(char c) { return c == 'e' || c == 'E' || c == 'd' || c == 'D'; }

struct Scan {
  const char* start = nullptr;  // first character of the number (its sign, if any)
  std::size_t length = 0;       // 0 when no mantissa digit was found
  std::size_t exponentAt = 0;   // offset of the exponent letter, or `length` when none
};

Scan scanNumber(const char* text) {
  Scan scan;
  const char* p = text;
  while (isSpace(*p)) ++p;
  scan.start = p;
  if (*p == '+' || *p == '-') ++p;
  std::size_t digits = 0;
  while (isDigit(*p)) ++p, ++digits;
  if (*p == '.') {
    ++p;
    while (isDigit(*p)) ++p, ++digits;
  }
  if (digits == 0) return scan;
  const char* end = p;
  std::size_t exponentAt = static_cast<std::size_t>(p - scan.start);
  if (isExponentLetter(*p)) {
    const char* q = p + 1;
    if (*q == '+' || *q == '-') ++q;
    if (isDigit(*q)) {
      while (isDigit(*q)) ++q;
      end = q;
    }
  }
  scan.length = static_cast<std::size_t>(end - scan.start);
  scan.exponentAt = exponentAt;
  return scan;
}

}  // namespace

std::size_t numberPrefixLength(const char* text) { return scanNumber(text).length; }

double convertNumber(const char* text) {
  const Scan scan = scanNumber(text);
  if (scan.length == 0) return 0.0;
  // Hand the C library exactly the accepted text, with the exponent letter as 'e', so that it
  // rounds the decimal value correctly and sees nothing it would read differently.
  char small[128];
  std::string large;
  char* copy = small;
  if (scan.length >= sizeof small) {
    large.resize(scan.length + 1);
    copy = large.data();
  }
  for (std::size_t i = 0; i < scan.length; ++i) copy[i] = scan.start[i];
  if (scan.exponentAt < scan.length) copy[scan.exponentAt] = 'e';
  copy[scan.length] = 0;
  return std::strtod(copy, nullptr);
}

}  // namespace empricer
