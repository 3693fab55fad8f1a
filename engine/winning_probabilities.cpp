#include "engine/winning_probabilities.h"

#include <cstdio>
#include <string>

#include "text/fields.h"
#include "text/input_stream.h"
#include "text/line_reader.h"
#include "text/number_conversion.h"
#include "text/number_text.h"
#include "text/output_file.h"

namespace empricer {

namespace {

// The five prices, comma-separated, without the line end; returns the length.
int terminalText(const double* prices, char* text) {
  int n = 0;
  for (int p = 0; p < kPathCount; ++p) {
    if (p > 0) text[n++] = ',';
    n += formatDouble(prices[p], text + n);
  }
  return n;
}

constexpr int kTerminalTextCapacity = kPathCount * (kNumberTextCapacity + 1);

}  // namespace

void appendTerminalRow(std::FILE* stream, const double* prices) {
  char text[kTerminalTextCapacity];
  const int n = terminalText(prices, text);
  writeLine(stream, std::string_view(text, static_cast<std::size_t>(n)));
}

void appendTerminalText(std::string& rows, const double* prices) {
  char text[kTerminalTextCapacity + 1];
  int n = terminalText(prices, text);
  text[n++] = '\n';
  rows.append(text, static_cast<std::size_t>(n));
}

double readBackPrice(double price) {
  char text[kNumberTextCapacity + 1];
  text[formatDouble(price, text)] = '\0';
  return convertNumber(text);
}

Status computeWinningProbabilities(const ValuationRequest& request, ValuationResult& result,
                                   const char* path) {
  InputStream stream;
  openForReading(stream, path);
  if (!isOpen(stream)) return openFailure(path);

  double callThreshold[kPathCount];
  double putThreshold[kPathCount];
  for (int p = 0; p < kPathCount; ++p) {
    callThreshold[p] = request.strike + callValueOfPath(result, p);
    putThreshold[p] = request.strike - putValueOfPath(result, p);
  }
  double callCount[kPathCount] = {};
  double putCount[kPathCount] = {};
  LineBuffer line{};
  forEachLine(stream, line, [&](const LineBuffer& text) {
    for (int p = 0; p < kPathCount; ++p) {
      const double v = fieldByComma(text, p + 1);
      if (v > callThreshold[p]) callCount[p] += 1.0;
      if (v < putThreshold[p]) putCount[p] += 1.0;
    }
  });
  const double q = 1.0 / static_cast<double>(request.trajectories);
  for (int p = 0; p < kPathCount; ++p) {
    result.probCall[p] = q * callCount[p];
    result.probPut[p] = q * putCount[p];
  }
  closeStream(stream);
  std::remove(path);
  return {};
}

}  // namespace empricer
