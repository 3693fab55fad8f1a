#include "engine/valuation/terminal_text.h"

#include <cstdio>
#include <string>

#include "text/number_conversion.h"
#include "text/number_text.h"
#include "text/output_file.h"

namespace empricer {

namespace {

// The five prices, comma-separated, without the line end; returns the length. With `readBack`
// given, each price as its text reads back.
int terminalText(const double* prices, char* text, double* readBack) {
  int n = 0;
  for (int p = 0; p < kPathCount; ++p) {
    if (p > 0) text[n++] = ',';
    const int length = formatDouble(prices[p], text + n);
    if (readBack != nullptr) {
      char number[kNumberTextCapacity + 1];
      std::copy(text + n, text + n + length, number);
      number[length] = '\0';
      readBack[p] = convertNumber(number);
    }
    n += length;
  }
  return n;
}

constexpr int kTerminalTextCapacity = kPathCount * (kNumberTextCapacity + 1);

}  // namespace

void appendTerminalRow(std::FILE* stream, const double* prices) {
  char text[kTerminalTextCapacity];
  const int n = terminalText(prices, text, nullptr);
  writeLine(stream, std::string_view(text, static_cast<std::size_t>(n)));
}

void appendTerminalText(std::string& rows, const double* prices, double* readBack) {
  char text[kTerminalTextCapacity + 1];
  int n = terminalText(prices, text, readBack);
  text[n++] = '\n';
  rows.append(text, static_cast<std::size_t>(n));
}

double readBackPrice(double price) {
  char text[kNumberTextCapacity + 1];
  text[formatDouble(price, text)] = '\0';
  return convertNumber(text);
}

}  // namespace empricer
