// Whether a step's law is a comb: its weight on values that sit (nearly) on a lattice of their
// own, as tick data's returns do, so that the sums of many steps stay point masses spaced like
// those values. The log price's lattice of the exact law smooths such point masses away, and
// with them the jumps of every probability and delta at them; no spacing of it resolves them.
//
// The measure is the characteristic function's size |E e^(i t X)| of the step's log factor X at
// the frequencies where the values line up: t = 2 pi k / d for k = 1 .. 16, d the distance of
// the two heaviest values when each carries at least 1 % of the weight, and t = 2 pi k / g for
// k = 1 .. 4, g the typical gap (the median of each value's distance to its nearest
// neighbour). Of m values above 2048, the gap and its sum are taken over every
// ceil(m / 2048)-th, their weights scaled to sum to 1. A sum of n steps keeps
// |E e^(i t X)|^n of it: a law made of point masses at that spacing, of that size.
#pragma once

#include <cstdint>

#include "engine/exact/exact_law.h"

namespace empricer {

// The largest size found, 0 for a law of fewer than two finite values.
double combStrength(const StepLaw& steps);

// Sums of steps that keep a comb of at least this size are not resolved.
constexpr double kCombTolerance = 1e-7;

// The most days whose sum of `stepsPerDay` steps a day keeps a comb of `strength` at least
// kCombTolerance (0: none; beyond `mostDays`, `mostDays`).
std::int64_t combedDays(double strength, std::int64_t mostDays, int stepsPerDay);

}  // namespace empricer
