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
//   maxOf, minOf                lane by lane (either operand for NaN; NaN is caught apart)
//   greater(a, b), less(a, b)   ordered comparisons (false for NaN)
//   unordered(a, b)             set where a or b is NaN
//   either, both, anyLane       mask or, mask and, whether any lane is set
//   noLane()                    a mask with no lane set
//   choose(m, a, b)             b where m is set, a elsewhere
//   highestLane, lowestLane     the largest and smallest lane of a vector without NaN
//   loadStates, nextStates      the states of kStateLanes lanes, and one generator step
//   gatherLow, gatherHigh       the table entries for the outputs of the low and high lanes
//   storeDoubles                to memory, unaligned
//
// Each step is the one of simulateOneByOne, lane by lane, in the same order of operations:
// factors 1 + w and w + growth, the move, then the band's two tests on (1 / anchor) * price.
// Where the block's ratios show that no test can fire for the next m steps (BandSkip), the
// moves run without the tests; that gives the same prices, since a test that does not fire
// leaves the price as it is.
//
// A block is kGroups Doubles vectors per path: more groups mean more independent work per
// step to hide the latency of the table lookups.

constexpr int kHalfLanes = kStateLanes / 2;  // lanes of one Doubles vector
// Steps taken with the tests before the ratios are looked at again.
constexpr int kTestedRun = 2;

template <int kGroups>
struct BlockKernel {
  static_assert(kGroups % 2 == 0, "a States vector feeds two Doubles vectors");
  static constexpr int kStateVectors = kGroups / 2;
  static constexpr int kLanes = kGroups * kHalfLanes;

  struct Prices {
    States state[kStateVectors];
    Doubles price[kPathCount][kGroups];
  };

  struct DayBand {
    Doubles inverse[kPathCount][kGroups];
    Doubles capHigh[kPathCount][kGroups];
    Doubles capLow[kPathCount][kGroups];
    // Set where a price set to capHigh then falls below the band: the second band test reads
    // inverse * capHigh, which is fixed for the day.
    Mask capHighFalls[kPathCount][kGroups];
  };

  // One draw per lane: the factors of the base path and of the shifted paths.
  static void drawFactors(Prices& b, const double* returnFor, Doubles growth,
                          Doubles baseFactor[kGroups], Doubles shiftedFactor[kGroups]) {
    const Doubles one = splat(1.0);
    for (int v = 0; v < kStateVectors; ++v) {
      b.state[v] = nextStates(b.state[v]);
      const Doubles low = gatherLow(returnFor, b.state[v]);
      const Doubles high = gatherHigh(returnFor, b.state[v]);
      baseFactor[2 * v] = add(one, low);
      shiftedFactor[2 * v] = add(low, growth);
      baseFactor[2 * v + 1] = add(one, high);
      shiftedFactor[2 * v + 1] = add(high, growth);
    }
  }

  // `steps` moves with no band test.
  static void moveFreely(Prices& b, int steps, const double* returnFor, Doubles growth) {
    for (int s = 0; s < steps; ++s) {
      Doubles baseFactor[kGroups];
      Doubles shiftedFactor[kGroups];
      drawFactors(b, returnFor, growth, baseFactor, shiftedFactor);
      for (int p = 0; p < kPathCount; ++p) {
        for (int g = 0; g < kGroups; ++g) {
          b.price[p][g] = mul(b.price[p][g], p == kBasePath ? baseFactor[g] : shiftedFactor[g]);
        }
      }
    }
  }

  // `steps` moves, each followed by the band's tests.
  static void moveWithinBand(Prices& b, const DayBand& band, int steps, const double* returnFor,
                             Doubles growth) {
    const Doubles upper = splat(kUpperBand);
    const Doubles lower = splat(kLowerBand);
    for (int s = 0; s < steps; ++s) {
      Doubles baseFactor[kGroups];
      Doubles shiftedFactor[kGroups];
      drawFactors(b, returnFor, growth, baseFactor, shiftedFactor);
      // Move every path and note whether any lane left the band; mostly none did, and then
      // the moved prices stand as they are.
      Doubles moved[kPathCount][kGroups];
      Mask outside = noLane();
      for (int p = 0; p < kPathCount; ++p) {
        for (int g = 0; g < kGroups; ++g) {
          moved[p][g] = mul(b.price[p][g], p == kBasePath ? baseFactor[g] : shiftedFactor[g]);
          const Doubles ratio = mul(band.inverse[p][g], moved[p][g]);
          outside = either(outside, either(greater(ratio, upper), less(ratio, lower)));
        }
      }
      if (anyLane(outside)) {
        for (int p = 0; p < kPathCount; ++p) {
          for (int g = 0; g < kGroups; ++g) {
            const Doubles ratio = mul(band.inverse[p][g], moved[p][g]);
            const Mask above = greater(ratio, upper);
            // A ratio above the band is not below it, so after capping only capHighFalls
            // decides the second test.
            const Mask below = either(less(ratio, lower), both(above, band.capHighFalls[p][g]));
            const Doubles capped = choose(above, moved[p][g], band.capHigh[p][g]);
            moved[p][g] = choose(below, capped, band.capLow[p][g]);
          }
        }
      }
      for (int p = 0; p < kPathCount; ++p) {
        for (int g = 0; g < kGroups; ++g) b.price[p][g] = moved[p][g];
      }
    }
  }

  // The most steps, up to `most`, that no band test can fire in, by the lanes' ratios now.
  static int freeSteps(const Prices& b, const DayBand& band, const BandSkip& skip, int most) {
    Doubles highest = mul(band.inverse[0][0], b.price[0][0]);
    Doubles lowest = highest;
    Mask nan = noLane();
    for (int p = 0; p < kPathCount; ++p) {
      for (int g = 0; g < kGroups; ++g) {
        const Doubles ratio = mul(band.inverse[p][g], b.price[p][g]);
        highest = maxOf(highest, ratio);
        lowest = minOf(lowest, ratio);
        nan = either(nan, unordered(ratio, ratio));
      }
    }
    if (anyLane(nan)) return 0;
    const double rHigh = highestLane(highest);
    const double rLow = lowestLane(lowest);
    auto fits = [&](int m) { return skip.upper[m] >= rHigh && skip.lower[m] <= rLow; };
    int top = most < skip.limit ? most : skip.limit;
    if (top < 1 || !fits(1)) return 0;
    // fits(m) holds up to some m and fails from there on: the bounds narrow as m grows.
    int good = 1;
    while (good < top) {
      const int mid = good + (top - good + 1) / 2;
      if (fits(mid)) {
        good = mid;
      } else {
        top = mid - 1;
      }
    }
    return good;
  }

  static void run(const LockstepJob& job, LockstepBlock& block) {
    const Doubles growth = splat(job.growth);
    const Doubles one = splat(1.0);
    const double* returnFor = job.returnFor;
    const BandSkip& skip = *job.skip;

    Prices b;
    for (int v = 0; v < kStateVectors; ++v) {
      b.state[v] = loadStates(block.laneState + v * kStateLanes);
    }
    for (int p = 0; p < kPathCount; ++p) {
      for (int g = 0; g < kGroups; ++g) b.price[p][g] = splat(job.start[p]);
    }

    DayBand band;
    std::int32_t next = 0;  // the next kept day
    for (std::int32_t day = 0; day < job.days; ++day) {
      // The day's band, from the anchor (the price at the day's start).
      Mask anchorOutside = noLane();
      for (int p = 0; p < kPathCount; ++p) {
        for (int g = 0; g < kGroups; ++g) {
          const Doubles anchor = b.price[p][g];
          band.inverse[p][g] = div(one, anchor);
          band.capHigh[p][g] = mul(anchor, splat(kUpperBand));
          band.capLow[p][g] = mul(anchor, splat(kLowerBand));
          band.capHighFalls[p][g] =
              less(mul(band.inverse[p][g], band.capHigh[p][g]), splat(kLowerBand));
          anchorOutside =
              either(anchorOutside, either(unordered(anchor, anchor),
                                           either(less(anchor, splat(kSkipAnchorLow)),
                                                  greater(anchor, splat(kSkipAnchorHigh)))));
        }
      }
      // Skipping needs every anchor in range; a day with one outside tests every step.
      const bool maySkip = skip.limit > 0 && !anyLane(anchorOutside);
      int s = 0;
      while (s < job.stepsPerDay) {
        const int remaining = job.stepsPerDay - s;
        const int free = maySkip ? freeSteps(b, band, skip, remaining) : 0;
        if (free > 0) {
          moveFreely(b, free, returnFor, growth);
          s += free;
        } else {
          const int tested = remaining < kTestedRun ? remaining : kTestedRun;
          moveWithinBand(b, band, tested, returnFor, growth);
          s += tested;
        }
      }

      if (next < job.keptCount && job.keptDays[next] == day + 1) {
        for (int p = 0; p < kPathCount; ++p) {
          for (int g = 0; g < kGroups; ++g) {
            storeDoubles(&block.kept[next][p][kHalfLanes * g], b.price[p][g]);
          }
        }
        ++next;
      }
    }
  }
};
