// The simulation's fixed numbers, with nothing else beside them: the files compiled for wide
// instruction sets include this header, and it must give them no function to compile.
#pragma once

#include <cstdint>

namespace empricer {

// Five paths side by side, in path order: shifted path 1, shifted path 2, base path,
// shifted path 3, shifted path 4.
constexpr int kPathCount = 5;
constexpr int kBasePath = 2;

// A day is N steps, 270 unless a run says otherwise (1 to kMostStepsPerDay): the band's
// anchor moves and theta looks back every N steps. The rate terms keep their value per day:
// a shifted path's growth per step is scaled by 270 / N.
constexpr int kDefaultStepsPerDay = 270;
constexpr int kMostStepsPerDay = 100000;
// The most steps the wide kernels take without the band's tests in one run.
constexpr int kMostSkippedSteps = 270;
// A path may rise to 1.07 times its anchor and fall to 1/1.07 times it: the lower factor is
// the double 0.9345794392523364, which 1.0 / 1.07 gives exactly (a test checks the bits).
constexpr double kUpperBand = 1.07;
constexpr double kLowerBand = 1.0 / kUpperBand;

// The generator: state = state * 214013 + 2531011 (mod 2^32), output bits 16 to 30.
constexpr std::uint32_t kRandomMultiplier = 214013u;
constexpr std::uint32_t kRandomIncrement = 2531011u;
constexpr int kGeneratorOutputs = 32768;

}  // namespace empricer
