#include "runs/console_input.h"

#include "text/number_conversion.h"

namespace empricer {

namespace {

constexpr std::size_t kMaxDoubleText = 27;
constexpr std::size_t kMaxIntegerText = 15;

// The character k places ahead, or -1 when the input ends before it.
int peekAt(ConsoleInput& c, std::size_t k) {
  while (c.lookahead.size() <= k) {
    const int ch = std::fgetc(c.in);
    if (ch == EOF) return -1;
    c.lookahead.push_back(static_cast<char>(ch));
  }
  return static_cast<unsigned char>(c.lookahead[k]);
}

void consume(ConsoleInput& c, std::size_t n) { c.lookahead.erase(0, n); }

bool isSpace(int ch) {
  return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}
bool isDigit(int ch) { return ch >= '0' && ch <= '9'; }
bool isOctal(int ch) { return ch >= '0' && ch <= '7'; }
int hexValue(int ch) {
  if (isDigit(ch)) return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

void skipSpace(ConsoleInput& c) {
  while (isSpace(peekAt(c, 0))) consume(c, 1);
}

}  // namespace

bool readDouble(ConsoleInput& console, double& value) {
  if (console.failed) return false;
  std::fflush(stdout);
  skipSpace(console);
  const int first = peekAt(console, 0);
  const bool beganWithSignOrPoint = first == '+' || first == '-' || first == '.';
  auto fail = [&] {
    console.failed = true;
    if (beganWithSignOrPoint) value = 0.0;
    return false;
  };

  // Scan no further than one character past the longest text that is accepted.
  std::size_t i = 0;
  if (first == '+' || first == '-') ++i;
  std::size_t digits = 0;
  while (i <= kMaxDoubleText && isDigit(peekAt(console, i))) ++i, ++digits;
  if (i <= kMaxDoubleText && peekAt(console, i) == '.') {
    ++i;
    while (i <= kMaxDoubleText && isDigit(peekAt(console, i))) ++i, ++digits;
  }
  if (digits == 0) return fail();
  if (i <= kMaxDoubleText) {
    const int e = peekAt(console, i);
    if (e == 'e' || e == 'E') {
      std::size_t j = i + 1;
      const int sign = peekAt(console, j);
      if (sign == '+' || sign == '-') ++j;
      if (isDigit(peekAt(console, j))) {
        while (j <= kMaxDoubleText && isDigit(peekAt(console, j))) ++j;
        i = j;
      }
    }
  }
  if (i > kMaxDoubleText) return fail();
  const std::string text = console.lookahead.substr(0, i);
  consume(console, i);
  value = convertNumber(text.c_str());
  return true;
}

bool readInteger(ConsoleInput& console, std::int32_t& value) {
  if (console.failed) return false;
  std::fflush(stdout);
  skipSpace(console);
  auto fail = [&] {
    console.failed = true;
    value = 0;
    return false;
  };

  std::size_t i = 0;
  bool negative = false;
  const int first = peekAt(console, 0);
  if (first == '+' || first == '-') {
    negative = first == '-';
    ++i;
  }
  std::int64_t magnitude = 0;
  std::size_t digits = 0;
  const int lead = peekAt(console, i);
  const int next = peekAt(console, i + 1);
  if (lead == '0' && (next == 'x' || next == 'X') && i + 2 <= kMaxIntegerText) {
    i += 2;
    while (i < kMaxIntegerText && hexValue(peekAt(console, i)) >= 0) {
      magnitude = magnitude * 16 + hexValue(peekAt(console, i));
      ++i, ++digits;
    }
  } else if (lead == '0') {
    while (i < kMaxIntegerText && isOctal(peekAt(console, i))) {
      magnitude = magnitude * 8 + (peekAt(console, i) - '0');
      ++i, ++digits;
    }
  } else {
    while (i < kMaxIntegerText && isDigit(peekAt(console, i))) {
      magnitude = magnitude * 10 + (peekAt(console, i) - '0');
      ++i, ++digits;
    }
  }
  if (digits == 0) return fail();
  const std::int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue < INT32_MIN || signedValue > INT32_MAX) return fail();
  consume(console, i);
  value = static_cast<std::int32_t>(signedValue);
  return true;
}

}  // namespace empricer
