// The lockstep kernel, written once over a thin set of vector operations. It is not a header
// of its own: each instruction set's file (lockstep_avx2.cpp, lockstep_avx512.cpp) defines
// the operations and includes this body inside an anonymous namespace, so that every copy is
// internal to a file compiled for its instruction set.
//
// What the including file defines before it:
//   Doubles, States, Mask       a vector of doubles, a vector of 32-bit generator states
//                               (twice as many lanes as Doubles), a lane mask of Doubles
//   kStateLanes                 lanes of one States vector (2 x the lanes of one Doubles)
//   splat(x)                    every lane x
//   add, mul, div               lane by lane, each rounded once
//   greater(a, b), less(a, b)   ordered comparisons (false for NaN)
//   either, both, anyLane       mask or, mask and, whether any lane is set
//   choose(m, a, b)             b where m is set, a elsewhere
//   loadStates, nextStates      the states of kStateLanes lanes, and one generator step
//   gatherLow, gatherHigh       the table entries for the outputs of the low and high lanes
//   storeDoubles                to memory, unaligned
//
// The step is the one of simulateOneByOne, lane by lane, in the same order of operations:
// factors 1 + w and w + growth, the move, then the band's two tests on (1 / anchor) * price.

void runBlock(const LockstepJob& job, LockstepBlock& block) {
  constexpr int kHalves = 2;  // Doubles vectors per States vector
  constexpr int kHalfLanes = kStateLanes / kHalves;
  const Doubles one = splat(1.0);
  const Doubles growth = splat(job.growth);
  const Doubles upper = splat(kUpperBand);
  const Doubles lower = splat(kLowerBand);
  const double* returnFor = job.returnFor;

  States state = loadStates(block.laneState);
  Doubles price[kPathCount][kHalves];
  for (int p = 0; p < kPathCount; ++p) {
    for (int h = 0; h < kHalves; ++h) price[p][h] = splat(job.start[p]);
  }

  for (std::int32_t day = 0; day < job.days; ++day) {
    // The day's band, from the anchor (the price at the day's start).
    Doubles inverse[kPathCount][kHalves];
    Doubles capHigh[kPathCount][kHalves];
    Doubles capLow[kPathCount][kHalves];
    // Set where a price set to capHigh then falls below the band: the second band test reads
    // inverse * capHigh, which is fixed for the day.
    Mask capHighFalls[kPathCount][kHalves];
    for (int p = 0; p < kPathCount; ++p) {
      for (int h = 0; h < kHalves; ++h) {
        inverse[p][h] = div(one, price[p][h]);
        capHigh[p][h] = mul(price[p][h], upper);
        capLow[p][h] = mul(price[p][h], lower);
        capHighFalls[p][h] = less(mul(inverse[p][h], capHigh[p][h]), lower);
      }
    }

    for (int s = 0; s < kStepsPerDay; ++s) {
      state = nextStates(state);
      const Doubles w[kHalves] = {gatherLow(returnFor, state), gatherHigh(returnFor, state)};
      Doubles factor[kHalves][2];  // [half][0] base path, [half][1] shifted paths
      for (int h = 0; h < kHalves; ++h) {
        factor[h][0] = add(one, w[h]);
        factor[h][1] = add(w[h], growth);
      }

      // Move every path and note whether any lane left the band; mostly none did, and then
      // the moved prices stand as they are.
      Doubles moved[kPathCount][kHalves];
      Mask outside = noLane();
#pragma GCC unroll 5
      for (int p = 0; p < kPathCount; ++p) {
#pragma GCC unroll 2
        for (int h = 0; h < kHalves; ++h) {
          moved[p][h] = mul(price[p][h], factor[h][p == kBasePath ? 0 : 1]);
          const Doubles ratio = mul(inverse[p][h], moved[p][h]);
          outside = either(outside, either(greater(ratio, upper), less(ratio, lower)));
        }
      }
      if (anyLane(outside)) {
#pragma GCC unroll 5
        for (int p = 0; p < kPathCount; ++p) {
#pragma GCC unroll 2
          for (int h = 0; h < kHalves; ++h) {
            const Doubles ratio = mul(inverse[p][h], moved[p][h]);
            const Mask above = greater(ratio, upper);
            // A ratio above the band is not below it, so after capping only capHighFalls
            // decides the second test.
            const Mask below = either(less(ratio, lower), both(above, capHighFalls[p][h]));
            const Doubles capped = choose(above, moved[p][h], capHigh[p][h]);
            moved[p][h] = choose(below, capped, capLow[p][h]);
          }
        }
      }
#pragma GCC unroll 5
      for (int p = 0; p < kPathCount; ++p) {
#pragma GCC unroll 2
        for (int h = 0; h < kHalves; ++h) price[p][h] = moved[p][h];
      }
    }

    if (day == job.days - 2) {
      for (int p = 0; p < kPathCount; ++p) {
        for (int h = 0; h < kHalves; ++h) {
          storeDoubles(&block.dayBefore[p][kHalfLanes * h], price[p][h]);
        }
      }
    }
  }
  for (int p = 0; p < kPathCount; ++p) {
    for (int h = 0; h < kHalves; ++h) {
      storeDoubles(&block.terminal[p][kHalfLanes * h], price[p][h]);
    }
  }
}
