// The inner loop of the lockstep engine, once per instruction set. Each kernel carries one
// block of trajectories, one per lane, through every step of the valuation and hands back
// the lanes' prices at the day before the last and at the end; the driver in
// lockstep_simulation.cpp adds them up in trajectory order.
//
// The AVX2 and AVX-512 kernels live in files compiled for those instruction sets. Their code
// is lockstep_kernel_body.h, included by each into an anonymous namespace; this header gives
// them only constants and plain records, so that no function they compile can be shared with
// (and picked by the linker for) the rest of the program.
#pragma once

#include <cstdint>

#include "engine/constants.h"

constexpr int kMaxLockstepLanes = 16;

struct LockstepJob {
  const double* returnFor;  // the return for each generator output (32768 entries)
  double start[kPathCount];
  double growth;
  std::int32_t days;  // at least 1
};

struct LockstepBlock {
  // In: the generator state before the lane's first step.
  std::uint32_t laneState[kMaxLockstepLanes];
  // Out, when days >= 2: the prices one day before the end.
  double dayBefore[kPathCount][kMaxLockstepLanes];
  // Out: the prices after the last step.
  double terminal[kPathCount][kMaxLockstepLanes];
};

constexpr int kScalarLanes = 4;
constexpr int kAvx2Lanes = 8;
constexpr int kAvx512Lanes = 16;

void runLockstepBlockScalar(const LockstepJob& job, LockstepBlock& block);
#if defined(EMPRICER_X86_KERNELS)
void runLockstepBlockAvx2(const LockstepJob& job, LockstepBlock& block);
void runLockstepBlockAvx512(const LockstepJob& job, LockstepBlock& block);
#endif
