#include "engine/path_simulation.h"

#include "engine/winning_probabilities.h"
#include "input/random_generator.h"

void simulateOneByOne(const SimulationSetup& setup, SimulationSums& sums) {
  const std::int64_t steps = static_cast<std::int64_t>(setup.days) * kStepsPerDay;
  const std::int64_t dayBeforeStep = steps - kStepsPerDay;
  const double* returnFor = setup.draws->returnFor;
  const double growth = setup.growth;
  const double strike = setup.strike;
  std::uint32_t state = randomState();

  for (std::int32_t t = 0; t < setup.trajectories; ++t) {
    double price[kPathCount];
    double anchor[kPathCount];
    double inverse[kPathCount];
    for (int p = 0; p < kPathCount; ++p) {
      price[p] = anchor[p] = setup.start[p];
      inverse[p] = 1.0 / anchor[p];
    }
    std::int64_t j = 0;
    for (std::int32_t day = 0; day < setup.days; ++day) {
      // The day's prices live in locals that nothing else sees, so that they stay in
      // registers through the 270 steps.
      double now[kPathCount];
      double inv[kPathCount];
      double high[kPathCount];
      double low[kPathCount];
      for (int p = 0; p < kPathCount; ++p) {
        now[p] = price[p];
        inv[p] = inverse[p];
        high[p] = anchor[p] * kUpperBand;
        low[p] = anchor[p] * kLowerBand;
      }
      for (int s = 0; s < kStepsPerDay; ++s) {
        state = advanceRandomState(state);
        const double w = returnFor[randomOutput(state)];
        const double baseFactor = 1.0 + w;
        const double shiftedFactor = w + growth;
#pragma GCC unroll 5
        for (int p = 0; p < kPathCount; ++p) {
          double x = now[p] * (p == kBasePath ? baseFactor : shiftedFactor);
          if (inv[p] * x > kUpperBand) x = high[p];
          if (inv[p] * x < kLowerBand) x = low[p];
          now[p] = x;
        }
      }
      for (int p = 0; p < kPathCount; ++p) price[p] = now[p];
      j += kStepsPerDay;
      for (int p = 0; p < kPathCount; ++p) {
        anchor[p] = price[p];
        inverse[p] = 1.0 / anchor[p];
      }
      if (j == dayBeforeStep) {
        for (int p = 0; p < kPathCount; ++p) {
          if (price[p] > strike) {
            sums.dayBeforeCall[p] += price[p] - strike;
          } else {
            sums.dayBeforePut[p] += strike - price[p];
          }
        }
      }
    }
    if (setup.terminalRows != nullptr) appendTerminalRow(setup.terminalRows, price);
    for (int p = 0; p < kPathCount; ++p) {
      if (price[p] > strike) {
        sums.call[p] += price[p] - strike;
      } else {
        sums.put[p] += strike - price[p];
      }
    }
    sums.sumPrices += price[kBasePath];
    sums.sumSquares += price[kBasePath] * price[kBasePath];
  }
  setRandomState(state);
}
