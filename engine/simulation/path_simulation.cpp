#include "engine/simulation/path_simulation.h"

#include "engine/table/random_generator.h"
#include "engine/valuation/terminal_text.h"

namespace empricer {

std::vector<std::int32_t> valuationKeptDays(std::int32_t days) {
  if (days < 1) return {0};
  if (days == 1) return {1};
  return {days - 1, days};
}

void simulateTrajectory(const double* start, double growth, std::int32_t days,
                        std::int32_t stepsPerDay, const double* returnFor, std::uint32_t& state,
                        const std::int32_t* keptDays, std::int32_t keptCount,
                        double* kept) {
  double price[kPathCount];
  for (int p = 0; p < kPathCount; ++p) price[p] = start[p];
  std::int32_t next = 0;
  for (; next < keptCount && keptDays[next] == 0; ++next) {
    for (int p = 0; p < kPathCount; ++p) kept[next * kPathCount + p] = price[p];
  }
  for (std::int32_t day = 0; day < days; ++day) {
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
    for (std::int32_t s = 0; s < stepsPerDay; ++s) {
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
    if (next < keptCount && keptDays[next] == day + 1) {
      for (int p = 0; p < kPathCount; ++p) kept[next * kPathCount + p] = price[p];
      ++next;
    }
  }
}

void simulateOneByOne(const SimulationSetup& setup, RowPricer& sums,
                      RandomGenerator& generator) {
  std::uint32_t state = generator.state;
  const std::vector<std::int32_t> keptDays = valuationKeptDays(setup.days);
  const std::int32_t records = static_cast<std::int32_t>(keptDays.size());
  for (std::int32_t t = 0; t < setup.trajectories; ++t) {
    double kept[2 * kPathCount];
    simulateTrajectory(setup.start, setup.growth, setup.days, setup.stepsPerDay,
                       setup.draws->returnFor, state,
                       keptDays.data(), records, kept);
    const double* terminal = terminalOfKept(kept, keptDays.size());
    if (setup.terminalRows != nullptr) appendTerminalRow(setup.terminalRows, terminal);
    sums.add(terminal, dayBeforeOfKept(kept, keptDays.size()));
  }
  generator.state = state;
}

}  // namespace empricer
