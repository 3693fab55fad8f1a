// The trajectory loop with several trajectories side by side. Each lane starts from the
// generator state that the one-at-a-time loop reaches when its trajectory begins (a jump
// ahead of trajectory x steps draws), applies the same operations in the same order to its
// five paths, and the sums and terminal rows are then added and written in trajectory order.
// The results, the terminal rows and the generator state left behind are bit for bit those of
// simulateOneByOne.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/table/distribution_cache.h"
#include "engine/simulation/lockstep_kernels.h"
#include "engine/simulation/path_simulation.h"
#include "engine/table/random_jump.h"

namespace empricer {

// Which kernel runs the trajectories ("path" is one of the five price paths, never this).
enum class KernelKind {
  Scalar,  // plain C++, any processor
  Avx2,
  Avx512,
  // One trajectory per block through the one-at-a-time loop (simulateTrajectory): never
  // chosen by the program, only forced, to check the others against.
  Reference,
};

// The bounds under which the wide kernels leave out the band tests, for the returns of a draw
// table and the shifted paths' growth.
BandSkip bandSkipBounds(const ReturnRange& range, double growth);

// Whether this build and this processor can run the kernel.
bool kernelAvailable(KernelKind kind);
// The widest available kernel; what simulateLockstep(setup, sums, generator) uses.
KernelKind bestKernel();
// The kernel's lanes per block by default, and every width it offers.
int kernelLaneCount(KernelKind kind);
std::vector<int> kernelLaneChoices(KernelKind kind);
const char* kernelName(KernelKind kind);

// Everything the blocks of one valuation share.
struct LockstepPlan {
  LockstepJob job;
  BandSkip skip;
  LockstepKernel kernel;
  int lanes;
  RandomJump oneTrajectory;  // the draws of one trajectory
  // The days after which the prices are kept: ascending, from 0 (the start) to days.
  std::vector<std::int32_t> keptDays;
};
// For `range`, the returns of setup.draws; a kernel that is not available runs as Scalar, and
// lanes 0 (or a width the kernel does not offer) takes the kernel's default width. The prices are
// kept after `keptDays`, or when it is empty after valuationKeptDays(setup.days).
LockstepPlan planLockstep(const SimulationSetup& setup, const ReturnRange& range,
                          KernelKind kind, int lanes = 0,
                          std::vector<std::int32_t> keptDays = {});

// Runs `count` trajectories in blocks of plan.lanes, the first of them starting from generator
// state `firstState`, and hands each block to sink(block, lanes used) in trajectory order; the
// block holds the prices after the kept days from 1 on. Only for days >= 1. Stops between
// blocks once `cancel` (when given) is set.
template <typename Sink>
void runLockstepBlocks(const LockstepPlan& plan, std::uint32_t firstState, std::int64_t count,
                       const std::atomic<bool>* cancel, Sink&& sink) {
  LockstepJob job = plan.job;
  job.skip = &plan.skip;
  const auto firstDay = std::find_if(plan.keptDays.begin(), plan.keptDays.end(),
                                     [](std::int32_t day) { return day > 0; });
  job.keptDays = plan.keptDays.data() + (firstDay - plan.keptDays.begin());
  job.keptCount = static_cast<std::int32_t>(plan.keptDays.end() - firstDay);
  const auto kept = std::make_unique<double[][kPathCount][kMaxLockstepLanes]>(
      static_cast<std::size_t>(std::max(1, job.keptCount)));
  const RandomJump oneBlock = randomJump(drawsOf(plan.lanes, plan.job.days, plan.job.stepsPerDay));
  // Lane l of the block that begins with trajectory t starts where trajectory t + l begins.
  LockstepBlock block;
  block.kept = kept.get();
  block.laneState[0] = firstState;
  for (int l = 1; l < plan.lanes; ++l) {
    block.laneState[l] = applyJump(plan.oneTrajectory, block.laneState[l - 1]);
  }
  for (std::int64_t first = 0; first < count; first += plan.lanes) {
    if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) return;
    // Lanes past the last trajectory run too; their results are not used.
    const int used = static_cast<int>(std::min<std::int64_t>(plan.lanes, count - first));
    plan.kernel(job, block);
    sink(static_cast<const LockstepBlock&>(block), used);
    for (int l = 0; l < plan.lanes; ++l) block.laneState[l] = applyJump(oneBlock, block.laneState[l]);
  }
}

// Runs `count` trajectories, the first from generator state `firstState`, and hands each to
// sink(kept) in trajectory order: five prices in path order after each kept day of the
// plan, one record after another. With days < 1 no step runs and no draw is taken: every
// trajectory stays where it starts. Stops between blocks once `cancel` (when given) is set.
template <typename Sink>
void forEachTrajectory(const LockstepPlan& plan, std::uint32_t firstState, std::int64_t count,
                       const std::atomic<bool>* cancel, Sink&& sink) {
  const std::size_t records = plan.keptDays.size();
  std::vector<double> trajectory(records * kPathCount);
  // The records of the start come first and are the same for every trajectory.
  std::size_t starts = 0;
  for (; starts < records && plan.keptDays[starts] == 0; ++starts) {
    std::copy(plan.job.start, plan.job.start + kPathCount, &trajectory[starts * kPathCount]);
  }
  if (plan.job.days < 1) {
    for (std::int64_t t = 0; t < count; ++t) sink(static_cast<const double*>(trajectory.data()));
    return;
  }
  runLockstepBlocks(plan, firstState, count, cancel, [&](const LockstepBlock& block, int used) {
    for (int l = 0; l < used; ++l) {
      for (std::size_t r = starts; r < records; ++r) {
        for (int p = 0; p < kPathCount; ++p) {
          trajectory[r * kPathCount + static_cast<std::size_t>(p)] = block.kept[r - starts][p][l];
        }
      }
      sink(static_cast<const double*>(trajectory.data()));
    }
  });
}

}  // namespace empricer
