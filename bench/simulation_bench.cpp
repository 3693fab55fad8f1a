// Cost of the trajectory loop in nanoseconds per step (one draw applied to the five paths):
//   OneByOne/rows:R                 the one-at-a-time reference loop
//   Lockstep/PATH/lanes:L/rows:R    one thread, each kernel at each of its widths
//   Threads/threads:T               a whole valuation through the queue on T threads (the
//                                   widest kernel at its default width), as the program runs
// over bell-shaped tables of 41, 1000 and 5000 rows with returns from -0.004 to 0.004.
//
//   build/bench/empricer_bench --benchmark_min_time=0.5
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include "engine/table/draw_table.h"
#include "engine/simulation/lockstep_simulation.h"
#include "engine/simulation/path_simulation.h"
#include "engine/table/random_generator.h"
#include "engine/table/return_table.h"
#include "engine/simulation/valuation_queue.h"
#include "tests/support/simulate_lockstep.h"
#include "tests/support/value_option.h"

using namespace empricer;

namespace {

constexpr std::int32_t kDays = 10;
constexpr std::int32_t kTrajectories = 64;  // a whole number of blocks for every lane width
constexpr double kStepsPerRun = static_cast<double>(kTrajectories) * kDays * kDefaultStepsPerDay;

// Whole-number weights of a bell over rows - rows + 1 ... rows, at least 1 each.
std::unique_ptr<ReturnTable> bellTable(int rows) {
  auto table = std::make_unique<ReturnTable>();
  *table = ReturnTable{};
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
  return table;
}

std::unique_ptr<DrawTable> bellDrawTable(int rows) {
  const auto table = bellTable(rows);
  auto draws = std::make_unique<DrawTable>();
  buildDrawTable(*table, static_cast<std::int32_t>(table->totalWeight), *draws);
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

void perStep(benchmark::State& state, double steps) {
  state.counters["ns_per_step"] = benchmark::Counter(
      steps, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <typename Simulate>
void runSimulation(benchmark::State& state, int rows, Simulate simulate) {
  const auto draws = bellDrawTable(rows);
  const SimulationSetup setup = benchSetup(*draws);
  RandomGenerator generator;
  seedRandom(generator, 12345u);
  for (auto _ : state) {
    RowPricer sums(setup.strike);
    simulate(setup, sums, generator);
    benchmark::DoNotOptimize(sums.sums());
  }
  perStep(state, kStepsPerRun);
}

// One valuation of 2,000 trajectories over 10 days through the queue, in a scratch directory.
void runValuations(benchmark::State& state, int threads) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("empricer-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string dist = (dir / "dist.csv").string();
  const std::string temporary = (dir / "temporary.txt").string();
  if (std::FILE* f = std::fopen(dist.c_str(), "w")) {
    const auto table = bellTable(201);
    for (int i = 0; i < table->rowCount; ++i) {
      std::fprintf(f, "%.17g,%.17g\n", table->returns[i], table->weights[i]);
    }
    std::fclose(f);
  }
  ValuationRequest request;
  request.spot = 100.0;
  request.strike = 100.0;
  request.riskFreeRate = 0.05;
  request.days = kDays;
  request.trajectories = 2000;
  request.stepFraction = 1.0 / 270;
  for (double& f : request.shiftFactor) f = 1.0;
  ValuationQueue queue(threads, SimulationChoice{});
  DistributionCache distribution;
  RandomGenerator generator{12345u};
  for (auto _ : state) {
    RowFigures result{};
    if (!valueOption(request, result, generator, {dist.c_str(), temporary.c_str()}, queue,
                     distribution)
             .ok()) {
      state.SkipWithError("the valuation failed");
      break;
    }
    benchmark::DoNotOptimize(result);
  }
  perStep(state, static_cast<double>(drawsOfValuation(request)));
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

void registerAll() {
  for (int rows : {41, 1000, 5000}) {
    benchmark::RegisterBenchmark(("OneByOne/rows:" + std::to_string(rows)).c_str(),
                                 [rows](benchmark::State& state) {
                                   runSimulation(state, rows, simulateOneByOne);
                                 });
    for (KernelKind path : {KernelKind::Scalar, KernelKind::Avx2, KernelKind::Avx512}) {
      if (!kernelAvailable(path)) continue;
      for (int lanes : kernelLaneChoices(path)) {
        const std::string name = std::string("Lockstep/") + kernelName(path) +
                                 "/lanes:" + std::to_string(lanes) + "/rows:" +
                                 std::to_string(rows);
        benchmark::RegisterBenchmark(name.c_str(), [rows, path, lanes](benchmark::State& state) {
          runSimulation(state, rows,
                        [path, lanes](const SimulationSetup& setup, RowPricer& sums,
                                      RandomGenerator& generator) {
                          simulateLockstep(setup, sums, generator, path, lanes);
                        });
        });
      }
    }
  }
  for (int threads : {1, 2, 4}) {
    benchmark::RegisterBenchmark(("Threads/threads:" + std::to_string(threads)).c_str(),
                                 [threads](benchmark::State& state) {
                                   runValuations(state, threads);
                                 })
        ->UseRealTime();
  }
}

const bool registered = (registerAll(), true);

}  // namespace
