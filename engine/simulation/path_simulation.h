// The trajectory loop: five paths moved by one shared draw per step, held in the daily band,
// with their prices taken at the last step and one day before it. This is the one-at-a-time
// reference that every faster path is checked against.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "engine/table/draw_table.h"
#include "engine/table/random_generator.h"
#include "engine/valuation/records.h"
#include "engine/valuation/row_pricer.h"

namespace empricer {

struct SimulationSetup {
  double start[kPathCount];      // path order
  double strike;
  double growth;                 // per-step factor of the shifted paths' rate term
  std::int32_t days;
  std::int32_t stepsPerDay = kDefaultStepsPerDay;  // a day of steps: the band, the day before
  std::int32_t trajectories;
  const DrawTable* draws;
  std::FILE* terminalRows;       // one line of terminal prices per trajectory, or nullptr
};

// The draws that `trajectories` trajectories of `days` days of `stepsPerDay` steps take: one
// per step; none when no trajectory or no step runs.
constexpr std::uint64_t drawsOf(std::int64_t trajectories, std::int32_t days,
                                std::int32_t stepsPerDay) {
  if (trajectories < 1 || days < 1) return 0;
  return static_cast<std::uint64_t>(trajectories) * static_cast<std::uint64_t>(days) *
         static_cast<std::uint64_t>(stepsPerDay);
}

// The days after which a valuation of `days` days keeps the prices: the day before the last
// (when days >= 2) and the last; with days < 1 the start (day 0).
std::vector<std::int32_t> valuationKeptDays(std::int32_t days);
// In one trajectory's prices after those days (`records` of them): the terminal prices, and
// the day before's (nullptr when days < 2).
inline const double* terminalOfKept(const double* kept, std::size_t records) {
  return kept + (records - 1) * kPathCount;
}
inline const double* dayBeforeOfKept(const double* kept, std::size_t records) {
  return records == 2 ? kept : nullptr;
}

// One trajectory of `days` days of `stepsPerDay` steps from `start`, its first draw following generator state
// `state`, which it leaves after its last draw. Puts the five prices (path order) after each
// of the `keptCount` kept days (ascending, from 0 for the start to `days`) into
// `kept`, one after another.
void simulateTrajectory(const double* start, double growth, std::int32_t days,
                        std::int32_t stepsPerDay, const double* returnFor, std::uint32_t& state,
                        const std::int32_t* keptDays, std::int32_t keptCount,
                        double* kept);

// Runs the trajectories one after another, drawing from `generator`, into `sums` (fresh, for
// setup.strike), and leaves the generator where the last step left it.
void simulateOneByOne(const SimulationSetup& setup, RowPricer& sums,
                      RandomGenerator& generator);

}  // namespace empricer
