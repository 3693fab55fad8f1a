#include "engine/path_simulation.h"

#include "engine/winning_probabilities.h"
#include "engine/random_generator.h"

void collectPayoffs(const double* price, double strike, double* call, double* put) {
  for (int p = 0; p < kPathCount; ++p) {
    if (price[p] > strike) {
      call[p] += price[p] - strike;
    } else {
      put[p] += strike - price[p];
    }
  }
}

void simulateOneByOne(const SimulationSetup& setup, SimulationSums& sums,
                      RandomGenerator& generator) {
  const double* returnFor = setup.draws->returnFor;
  const double growth = setup.growth;
  std::uint32_t state = generator.state;

  for (std::int32_t t = 0; t < setup.trajectories; ++t) {
    double price[kPathCount];
    for (int p = 0; p < kPathCount; ++p) price[p] = setup.start[p];
    for (std::int32_t day = 0; day < setup.days; ++day) {
      // The band of the day, from its anchor: the price at the day's start. The day's prices
      // live in locals that nothing else sees, so that they stay in registers.
      double now[kPathCount];
      double inverse[kPathCount];
      double high[kPathCount];
      double low[kPathCount];
      for (int p = 0; p < kPathCount; ++p) {
        now[p] = price[p];
        inverse[p] = 1.0 / price[p];
        high[p] = price[p] * kUpperBand;
        low[p] = price[p] * kLowerBand;
      }
      for (int s = 0; s < kStepsPerDay; ++s) {
        state = advanceRandomState(state);
        const double w = returnFor[randomOutput(state)];
        const double baseFactor = 1.0 + w;
        const double shiftedFactor = w + growth;
#pragma GCC unroll 5
        for (int p = 0; p < kPathCount; ++p) {
          double x = now[p] * (p == kBasePath ? baseFactor : shiftedFactor);
          if (inverse[p] * x > kUpperBand) x = high[p];
          if (inverse[p] * x < kLowerBand) x = low[p];
          now[p] = x;
        }
      }
      for (int p = 0; p < kPathCount; ++p) price[p] = now[p];
      // The step one day before the last.
      if (day == setup.days - 2) {
        collectPayoffs(price, setup.strike, sums.dayBeforeCall, sums.dayBeforePut);
      }
    }
    if (setup.terminalRows != nullptr) appendTerminalRow(setup.terminalRows, price);
    collectPayoffs(price, setup.strike, sums.call, sums.put);
    sums.sumPrices += price[kBasePath];
    sums.sumSquares += price[kBasePath] * price[kBasePath];
  }
  generator.state = state;
}
