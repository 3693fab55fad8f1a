// Engine inputs built by hand, and values worked out by hand the way the program computes them.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "runs/settings.h"
#include "engine/valuation/records.h"
#include "engine/table/return_table.h"

using namespace empricer;

// A request with the usual shift factors 1.02 0.98 1.01 0.99 and a step scale of 1.
inline ValuationRequest requestOf(double spot, double strike, std::int32_t days,
                                  std::int32_t trajectories, double rate = 0.0,
                                  bool probabilities = false) {
  ValuationRequest r;
  r.spot = spot;
  r.strike = strike;
  r.riskFreeRate = rate;
  r.days = days;
  r.trajectories = trajectories;
  r.stepFraction = kOneOverStepsPerDay;
  r.shiftFactor[0] = 1.02;
  r.shiftFactor[1] = 0.98;
  r.shiftFactor[2] = 1.01;
  r.shiftFactor[3] = 0.99;
  r.withProbabilities = probabilities;
  return r;
}

// The text of a bell-shaped distribution: `rows` returns from -spread to +spread, whole-number
// weights highest in the middle.
inline std::string bellDistribution(int rows, double spread) {
  std::string text;
  for (int i = 0; i < rows; ++i) {
    const double x = -1.0 + 2.0 * i / (rows - 1);
    text += std::to_string(spread * x) + "," +
            std::to_string(static_cast<int>(100.0 * std::exp(-4.0 * x * x)) + 1) + "\n";
  }
  return text;
}

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
