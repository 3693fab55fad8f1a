#include "engine/lockstep_simulation.h"

#include <algorithm>

#include "engine/lockstep_kernels.h"
#include "engine/random_jump.h"
#include "engine/winning_probabilities.h"
#include "engine/random_generator.h"

namespace {

using BlockKernel = void (*)(const LockstepJob&, LockstepBlock&);

BlockKernel kernelFor(LockstepPath path) {
#if defined(EMPRICER_X86_KERNELS)
  if (path == LockstepPath::Avx512 && lockstepPathAvailable(path)) return runLockstepBlockAvx512;
  if (path == LockstepPath::Avx2 && lockstepPathAvailable(path)) return runLockstepBlockAvx2;
#endif
  (void)path;
  return runLockstepBlockScalar;
}

// One trajectory's terminal prices: row, payoffs, and the base path's moments.
void collectTerminal(const SimulationSetup& setup, const double* price, SimulationSums& sums) {
  if (setup.terminalRows != nullptr) appendTerminalRow(setup.terminalRows, price);
  collectPayoffs(price, setup.strike, sums.call, sums.put);
  sums.sumPrices += price[kBasePath];
  sums.sumSquares += price[kBasePath] * price[kBasePath];
}

}  // namespace

bool lockstepPathAvailable(LockstepPath path) {
  switch (path) {
    case LockstepPath::Scalar:
      return true;
#if defined(EMPRICER_X86_KERNELS)
    case LockstepPath::Avx2:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx2");
    case LockstepPath::Avx512:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx512f");
#endif
    default:
      return false;
  }
}

LockstepPath bestLockstepPath() {
  if (lockstepPathAvailable(LockstepPath::Avx512)) return LockstepPath::Avx512;
  if (lockstepPathAvailable(LockstepPath::Avx2)) return LockstepPath::Avx2;
  return LockstepPath::Scalar;
}

int lockstepLaneCount(LockstepPath path) {
  switch (path) {
    case LockstepPath::Avx2:
      return kAvx2Lanes;
    case LockstepPath::Avx512:
      return kAvx512Lanes;
    default:
      return kScalarLanes;
  }
}

const char* lockstepPathName(LockstepPath path) {
  switch (path) {
    case LockstepPath::Avx2:
      return "avx2";
    case LockstepPath::Avx512:
      return "avx512";
    default:
      return "scalar";
  }
}

void simulateLockstep(const SimulationSetup& setup, SimulationSums& sums,
                      RandomGenerator& generator) {
  simulateLockstep(setup, sums, generator, bestLockstepPath());
}

void simulateLockstep(const SimulationSetup& setup, SimulationSums& sums,
                      RandomGenerator& generator, LockstepPath path) {
  if (setup.trajectories <= 0) return;
  const std::int64_t trajectories = setup.trajectories;

  if (setup.days <= 0) {
    // No step runs and no draw is taken: every trajectory ends where it starts.
    for (std::int64_t t = 0; t < trajectories; ++t) collectTerminal(setup, setup.start, sums);
    return;
  }

  if (!lockstepPathAvailable(path)) path = LockstepPath::Scalar;
  const BlockKernel kernel = kernelFor(path);
  const int lanes = lockstepLaneCount(path);

  const std::uint64_t steps = static_cast<std::uint64_t>(setup.days) * kStepsPerDay;
  const RandomJump oneTrajectory = randomJump(steps);
  const RandomJump oneBlock = randomJump(steps * static_cast<std::uint64_t>(lanes));
  const std::uint32_t firstState = generator.state;

  LockstepJob job{};
  job.returnFor = setup.draws->returnFor;
  for (int p = 0; p < kPathCount; ++p) job.start[p] = setup.start[p];
  job.growth = setup.growth;
  job.days = setup.days;

  // Lane l of the block that begins with trajectory t starts where trajectory t + l begins.
  LockstepBlock block;
  block.laneState[0] = firstState;
  for (int l = 1; l < lanes; ++l) {
    block.laneState[l] = applyJump(oneTrajectory, block.laneState[l - 1]);
  }

  const bool withDayBefore = setup.days >= 2;
  for (std::int64_t first = 0; first < trajectories; first += lanes) {
    // Lanes past the last trajectory run too; their results are not used.
    const int used = static_cast<int>(std::min<std::int64_t>(lanes, trajectories - first));
    kernel(job, block);
    for (int l = 0; l < used; ++l) {
      double price[kPathCount];
      if (withDayBefore) {
        for (int p = 0; p < kPathCount; ++p) price[p] = block.dayBefore[p][l];
        collectPayoffs(price, setup.strike, sums.dayBeforeCall, sums.dayBeforePut);
      }
      for (int p = 0; p < kPathCount; ++p) price[p] = block.terminal[p][l];
      collectTerminal(setup, price, sums);
    }
    for (int l = 0; l < lanes; ++l) block.laneState[l] = applyJump(oneBlock, block.laneState[l]);
  }

  const std::uint64_t draws = static_cast<std::uint64_t>(trajectories) * steps;
  generator.state = applyJump(randomJump(draws), firstState);
}
