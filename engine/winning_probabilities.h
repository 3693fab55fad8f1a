// Winning probabilities: the share of trajectories whose terminal price ends above the strike
// plus the call's value (call) or below the strike minus the put's value (put). The terminal
// prices go through "VelmarTemp.txt" as six-digit text, so the comparison is made on the text.
#pragma once

#include <cstdio>

#include "engine/records.h"

constexpr const char* kTemporaryFileName = "VelmarTemp.txt";

// One line of the five terminal prices in path order, comma-separated.
void appendTerminalRow(std::FILE* stream, const double* prices);

// Reads the temporary file back, fills probCall and probPut, and removes the file. Stops the
// program when the file cannot be opened for reading.
void computeWinningProbabilities(const ValuationRequest& request, ValuationResult& result);
