// Terminal prices as six-digit number text: the lines of the temporary file, and a price as
// it reads back from its text (the winning probabilities compare the prices so).
#pragma once

#include <cstdio>
#include <string>

#include "engine/valuation/records.h"

namespace empricer {

// One line of the five terminal prices in path order, comma-separated.
void appendTerminalRow(std::FILE* stream, const double* prices);
// The same line, with its line end, added to `rows`; with `readBack` given, the five prices as
// the line reads back go there.
void appendTerminalText(std::string& rows, const double* prices, double* readBack = nullptr);

// A price as its six-digit number text gives it back.
double readBackPrice(double price);

}  // namespace empricer
