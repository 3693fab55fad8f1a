// The trajectory loop: five paths moved by one shared draw per step, held in the daily band,
// with payoffs collected at the last step and one day before it.
#pragma once

#include <cstdint>
#include <cstdio>

#include "engine/draw_table.h"
#include "engine/random_generator.h"
#include "engine/records.h"

struct SimulationSetup {
  double start[kPathCount];      // path order
  double strike;
  double growth;                 // per-step factor of the shifted paths' rate term
  std::int32_t days;
  std::int32_t trajectories;
  const DrawTable* draws;
  std::FILE* terminalRows;       // one line of terminal prices per trajectory, or nullptr
};

struct SimulationSums {
  double call[kPathCount];
  double put[kPathCount];
  double dayBeforeCall[kPathCount];
  double dayBeforePut[kPathCount];
  double sumPrices;   // base path's terminal prices
  double sumSquares;
};

// Adds each path's payoff against the strike: price - strike to its call sum when the price
// is above the strike, otherwise strike - price to its put sum.
void collectPayoffs(const double* price, double strike, double* call, double* put);

// Runs the trajectories one after another, drawing from `generator`, and leaves the generator
// where the last step left it. The sums must start at zero.
void simulateOneByOne(const SimulationSetup& setup, SimulationSums& sums,
                      RandomGenerator& generator);
