// The lockstep kernel in plain C++, for processors without the wide paths: four lanes, each
// step drawn for every lane before the paths move, so the lanes' work can overlap.
#include "engine/simulation/lockstep_kernels.h"

#include "engine/simulation/path_simulation.h"
#include "engine/table/random_generator.h"

namespace empricer {

void runLockstepBlockScalar(const LockstepJob& job, LockstepBlock& block) {
  constexpr int kLanes = kScalarLanes;
  std::uint32_t state[kLanes];
  double price[kPathCount][kLanes];
  for (int l = 0; l < kLanes; ++l) state[l] = block.laneState[l];
  for (int p = 0; p < kPathCount; ++p) {
    for (int l = 0; l < kLanes; ++l) price[p][l] = job.start[p];
  }

  const double growth = job.growth;
  std::int32_t next = 0;  // the next kept day
  for (std::int32_t day = 0; day < job.days; ++day) {
    // The day's band, from the anchor (the price at the day's start).
    double inverse[kPathCount][kLanes];
    double capHigh[kPathCount][kLanes];
    double capLow[kPathCount][kLanes];
    for (int p = 0; p < kPathCount; ++p) {
      for (int l = 0; l < kLanes; ++l) {
        inverse[p][l] = 1.0 / price[p][l];
        capHigh[p][l] = price[p][l] * kUpperBand;
        capLow[p][l] = price[p][l] * kLowerBand;
      }
    }

    for (std::int32_t s = 0; s < job.stepsPerDay; ++s) {
      double factor[2][kLanes];  // [0] base path, [1] shifted paths
#pragma GCC unroll 4
      for (int l = 0; l < kLanes; ++l) {
        state[l] = advanceRandomState(state[l]);
        const double w = job.returnFor[randomOutput(state[l])];
        factor[0][l] = 1.0 + w;
        factor[1][l] = w + growth;
      }
      // Move every path and note whether any lane left the band; mostly none did, and then
      // the moved prices stand as they are.
      // The highest and lowest ratios (a NaN ratio, which no band test catches, is passed
      // over) tell whether any band test fires.
      double moved[kPathCount][kLanes];
      double highest[kLanes] = {};
      double lowest[kLanes];
      for (int l = 0; l < kLanes; ++l) lowest[l] = 1.0;
#pragma GCC unroll 5
      for (int p = 0; p < kPathCount; ++p) {
        const double* f = factor[p == kBasePath ? 0 : 1];
#pragma GCC unroll 4
        for (int l = 0; l < kLanes; ++l) {
          moved[p][l] = price[p][l] * f[l];
          const double ratio = inverse[p][l] * moved[p][l];
          highest[l] = ratio > highest[l] ? ratio : highest[l];
          lowest[l] = ratio < lowest[l] ? ratio : lowest[l];
        }
      }
      bool outside = false;
      for (int l = 0; l < kLanes; ++l) {
        outside |= (highest[l] > kUpperBand) | (lowest[l] < kLowerBand);
      }
      if (outside) {
        for (int p = 0; p < kPathCount; ++p) {
          for (int l = 0; l < kLanes; ++l) {
            double x = moved[p][l];
            if (inverse[p][l] * x > kUpperBand) x = capHigh[p][l];
            if (inverse[p][l] * x < kLowerBand) x = capLow[p][l];
            moved[p][l] = x;
          }
        }
      }
#pragma GCC unroll 5
      for (int p = 0; p < kPathCount; ++p) {
#pragma GCC unroll 4
        for (int l = 0; l < kLanes; ++l) price[p][l] = moved[p][l];
      }
    }

    if (next < job.keptCount && job.keptDays[next] == day + 1) {
      for (int p = 0; p < kPathCount; ++p) {
        for (int l = 0; l < kLanes; ++l) block.kept[next][p][l] = price[p][l];
      }
      ++next;
    }
  }
}

}  // namespace empricer
