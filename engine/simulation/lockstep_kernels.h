// The inner loop of the lockstep engine, once per instruction set. Each kernel carries one
// block of trajectories, one per lane, through every step of the valuation and hands back
// the lanes' prices at the ends of the days it is asked for; the driver in
// lockstep_simulation.cpp hands them on in trajectory order.
//
// The AVX2 and AVX-512 kernels live in files compiled for those instruction sets. Their code
// is lockstep_kernel_body.h, included by each into an anonymous namespace; this header gives
// them only constants and plain records, so that no function they compile can be shared with
// (and picked by the linker for) the rest of the program.
#pragma once

#include <cstdint>

#include "engine/valuation/constants.h"

namespace empricer {

constexpr int kMaxLockstepLanes = 32;

// The steps a block may take without the band tests, by the lanes' ratios to their anchors
// (see bandSkipBounds in lockstep_simulation.cpp for the proof). When every lane of every
// path has lower[m] <= (1 / anchor) * price <= upper[m], and every anchor lies in
// [kSkipAnchorLow, kSkipAnchorHigh], none of the next m steps can move a price out of its
// band, so those steps need no test. upper falls and lower rises with m.
constexpr double kSkipAnchorLow = 0x1p-1000;
constexpr double kSkipAnchorHigh = 0x1p+1000;
struct BandSkip {
  std::int32_t limit;  // the largest m with bounds; 0 tests every step
  double upper[kMostSkippedSteps + 1];
  double lower[kMostSkippedSteps + 1];
};

struct LockstepJob {
  const double* returnFor;  // the return for each generator output (32768 entries)
  double start[kPathCount];
  double growth;
  std::int32_t days;  // at least 1
  std::int32_t stepsPerDay = kDefaultStepsPerDay;
  const BandSkip* skip;
  // The prices are kept after these days (counted from 1, ascending, each at most `days`).
  const std::int32_t* keptDays;
  std::int32_t keptCount;
};

struct LockstepBlock;
using LockstepKernel = void (*)(const LockstepJob&, LockstepBlock&);

struct LockstepBlock {
  // In: the generator state before the lane's first step.
  std::uint32_t laneState[kMaxLockstepLanes];
  // Out: the prices after each of the job's kept days, in its order.
  double (*kept)[kPathCount][kMaxLockstepLanes];
};

constexpr int kScalarLanes = 4;

void runLockstepBlockScalar(const LockstepJob& job, LockstepBlock& block);
#if defined(EMPRICER_X86_KERNELS)
// By lanes per block: 8, 16 or 32 with AVX2 (2, 4 or 8 vectors of four doubles per path), 16
// or 32 with AVX-512 (2 or 4 vectors of eight).
void runLockstepBlockAvx2x8(const LockstepJob& job, LockstepBlock& block);
void runLockstepBlockAvx2x16(const LockstepJob& job, LockstepBlock& block);
void runLockstepBlockAvx2x32(const LockstepJob& job, LockstepBlock& block);
void runLockstepBlockAvx512x16(const LockstepJob& job, LockstepBlock& block);
void runLockstepBlockAvx512x32(const LockstepJob& job, LockstepBlock& block);
#endif

}  // namespace empricer
