// Engine inputs built by hand, and values worked out by hand the way the program computes them.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/return_table.h"

// The table loadReturnTable leaves for the rows (returns[i], weights[i]): running sums added
// in the loader's order, zeros after the last row.
inline std::unique_ptr<ReturnTable> returnTableOf(const std::vector<double>& returns,
                                                  const std::vector<double>& weights) {
  auto table = std::make_unique<ReturnTable>();
  *table = ReturnTable{};
  const int rows = static_cast<int>(returns.size());
  for (int i = 0; i < rows; ++i) {
    const auto at = static_cast<std::size_t>(i);
    table->returns[i] = returns[at];
    table->weights[i] = weights[at];
    table->cumulative[i] = i == 0 ? weights[at] : weights[at] + table->cumulative[i - 1];
  }
  table->rowCount = rows;
  table->totalWeight = table->cumulative[rows - 1];
  return table;
}

// The C library's six-digit text, for values whose text has no exponent.
inline std::string g6(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

// ((x + x) + x) + x, the order in which four equal payoffs are summed.
inline double fourTimes(double x) { return ((x + x) + x) + x; }
