// Winning probabilities: the share of trajectories whose terminal price ends above the strike
// plus the call's value (call) or below the strike minus the put's value (put). The terminal
// prices go through a temporary file as six-digit text, so the comparison is made on the text.
#pragma once

#include <cstdio>
#include <string>

#include "engine/outcome.h"
#include "engine/records.h"

namespace empricer {

// One line of the five terminal prices in path order, comma-separated.
void appendTerminalRow(std::FILE* stream, const double* prices);
// The same line, with its line end, added to `rows`.
void appendTerminalText(std::string& rows, const double* prices);

// A price as the temporary file gives it back: its six-digit number text, read as a number.
double readBackPrice(double price);

// Reads the temporary file at `path` back, fills probCall and probPut, and removes the file.
// Fails when the file cannot be opened for reading.
Status computeWinningProbabilities(const ValuationRequest& request, ValuationResult& result,
                                   const char* path);

}  // namespace empricer
