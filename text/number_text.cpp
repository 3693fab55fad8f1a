#include "text/number_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace empricer {

namespace {

int copyText(char* out, const char* text) {
  const int n = static_cast<int>(std::strlen(text));
  std::memcpy(out, text, static_cast<std::size_t>(n));
  return n;
}

}  // namespace

int formatDouble(double value, char* out) {
  if (std::isnan(value)) return copyText(out, std::signbit(value) ? "-nan" : "nan");
  if (std::isinf(value)) return copyText(out, value < 0 ? "-inf" : "inf");

  // Six significant digits, correctly rounded: "d.ddddde[+-]x..".
  char sci[kNumberTextCapacity];
  const auto conv =
      std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific, 5);
  const char* p = sci;
  int n = 0;
  if (*p == '-') out[n++] = *p++;
  char digits[6];
  digits[0] = p[0];
  for (int i = 0; i < 5; ++i) digits[i + 1] = p[2 + i];
  p += 7;  // past "d.ddddd" to 'e'
  ++p;
  const bool negativeExponent = (*p == '-');
  ++p;
  int exponent = 0;
  for (; p < conv.ptr; ++p) exponent = exponent * 10 + (*p - '0');
  if (negativeExponent) exponent = -exponent;

  // Significant digits without the trailing zeros.
  int used = 6;
  while (used > 1 && digits[used - 1] == '0') --used;

  if (exponent < -4 || exponent >= 6) {
    out[n++] = digits[0];
    if (used > 1) {
      out[n++] = '.';
      for (int i = 1; i < used; ++i) out[n++] = digits[i];
    }
    out[n++] = 'e';
    out[n++] = negativeExponent ? '-' : '+';
    const int magnitude = negativeExponent ? -exponent : exponent;
    char expText[8];
    int e = 0;
    int m = magnitude;
    do {
      expText[e++] = static_cast<char>('0' + m % 10);
      m /= 10;
    } while (m > 0);
    while (e < 3) expText[e++] = '0';
    while (e > 0) out[n++] = expText[--e];
    return n;
  }

  if (exponent >= 0) {
    // Integer part: the first exponent + 1 digits, then the fraction.
    for (int i = 0; i <= exponent; ++i) out[n++] = digits[i];
    if (used > exponent + 1) {
      out[n++] = '.';
      for (int i = exponent + 1; i < used; ++i) out[n++] = digits[i];
    }
    return n;
  }
  out[n++] = '0';
  out[n++] = '.';
  for (int i = 0; i < -exponent - 1; ++i) out[n++] = '0';
  for (int i = 0; i < used; ++i) out[n++] = digits[i];
  return n;
}

void appendNumber(std::string& text, double value) {
  char buffer[kNumberTextCapacity];
  const int n = formatDouble(value, buffer);
  text.append(buffer, static_cast<std::size_t>(n));
}

void appendInteger(std::string& text, std::int64_t value) {
  char buffer[24];
  const auto conv = std::to_chars(buffer, buffer + sizeof buffer, value);
  text.append(buffer, conv.ptr);
}

std::string numberText(double value) {
  std::string text;
  appendNumber(text, value);
  return text;
}

void appendShortest(std::string& text, double value) {
  if (std::isnan(value)) {
    text += "nan";
    return;
  }
  char buffer[32];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  text.append(buffer, error == std::errc() ? end : buffer);
}

}  // namespace empricer
