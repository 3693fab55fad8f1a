// Cost of the trajectory loop in nanoseconds per step (one draw applied to the five paths),
// for the one-at-a-time loop and for every lockstep path this processor can run, over
// bell-shaped tables of 41, 1000 and 5000 rows with returns from -0.004 to 0.004.
//
//   build/bench/empricer_bench --benchmark_min_time=0.5
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/draw_table.h"
#include "engine/lockstep_simulation.h"
#include "engine/path_simulation.h"
#include "engine/return_table.h"
#include "engine/random_generator.h"

namespace {

constexpr std::int32_t kDays = 10;
constexpr std::int32_t kTrajectories = 64;  // a whole number of blocks for every lane width
constexpr double kStepsPerRun = static_cast<double>(kTrajectories) * kDays * kStepsPerDay;

// Whole-number weights of a bell over rows - rows + 1 ... rows, at least 1 each.
std::unique_ptr<DrawTable> bellDrawTable(int rows) {
  auto table = std::make_unique<ReturnTable>();
  double total = 0.0;
  for (int i = 0; i < rows; ++i) {
    const double x = rows == 1 ? 0.0 : -1.0 + 2.0 * i / (rows - 1);  // -1 .. 1
    table->returns[i] = 0.004 * x;
    table->weights[i] = std::floor(1000.0 * std::exp(-4.5 * x * x)) + 1.0;
    total += table->weights[i];
    table->cumulative[i] = total;
  }
  table->rowCount = rows;
  table->totalWeight = total;
  auto draws = std::make_unique<DrawTable>();
  buildDrawTable(*table, static_cast<std::int32_t>(total), *draws);
  return draws;
}

SimulationSetup benchSetup(const DrawTable& draws) {
  SimulationSetup setup{};
  const double spot = 100.0;
  const double shift[kPathCount] = {1.02, 0.98, 1.0, 1.01, 0.99};
  for (int p = 0; p < kPathCount; ++p) setup.start[p] = spot * shift[p];
  setup.strike = 100.0;
  setup.growth = 0.05 * (1.0 / 270.0 / 365.0) * 0.01 + 1.0;
  setup.days = kDays;
  setup.trajectories = kTrajectories;
  setup.draws = &draws;
  setup.terminalRows = nullptr;
  return setup;
}

template <typename Simulate>
void runSimulation(benchmark::State& state, int rows, Simulate simulate) {
  const auto draws = bellDrawTable(rows);
  const SimulationSetup setup = benchSetup(*draws);
  RandomGenerator generator;
  seedRandom(generator, 12345u);
  for (auto _ : state) {
    SimulationSums sums{};
    simulate(setup, sums, generator);
    benchmark::DoNotOptimize(sums);
  }
  // Time per iteration divided by steps per iteration, in nanoseconds.
  state.counters["ns_per_step"] = benchmark::Counter(
      kStepsPerRun, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void registerAll() {
  for (int rows : {41, 1000, 5000}) {
    benchmark::RegisterBenchmark(("OneByOne/rows:" + std::to_string(rows)).c_str(),
                                 [rows](benchmark::State& state) {
                                   runSimulation(state, rows, simulateOneByOne);
                                 });
    for (LockstepPath path : {LockstepPath::Scalar, LockstepPath::Avx2, LockstepPath::Avx512}) {
      if (!lockstepPathAvailable(path)) continue;
      const std::string name =
          std::string("Lockstep/") + lockstepPathName(path) + "/rows:" + std::to_string(rows);
      benchmark::RegisterBenchmark(name.c_str(), [rows, path](benchmark::State& state) {
        runSimulation(state, rows,
                      [path](const SimulationSetup& setup, SimulationSums& sums,
                             RandomGenerator& generator) {
                        simulateLockstep(setup, sums, generator, path);
                      });
      });
    }
  }
}

const bool registered = (registerAll(), true);

}  // namespace
