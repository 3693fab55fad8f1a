// The calibrated measure of one S0 on simulated paths (weighted Monte Carlo): the same
// definition as on the exact law's lattice (engine/lattice_measure.h), with P the paths drawn,
// each of weight 1. A path's weight under Q is prod_e h_e(X_e) normalised, the multipliers
// solved on the sample: each expiry's, the others held, a one-period fit on the weights of the
// other expiries (its cavity), in sweeps mixed as the lattice's are, until every expiry is met.
#pragma once

#include <cstddef>
#include <vector>

#include "engine/exact/lattice_measure.h"
#include "engine/exact/period_fit.h"
#include "engine/valuation/work_watch.h"

namespace empricer {

struct SampleMeasure {
  std::vector<StrikeBands> bands;   // by expiry, on the sample's forwards
  std::vector<PeriodFit> fits;      // by expiry
  std::vector<TiltLine> lines;      // by expiry, each fit's tilt (set with the fits)
  std::vector<double> forwards;     // E[X_e] / S0 kept, by expiry
  std::vector<std::vector<double>> prices;  // each expiry's quoted prices under Q, units of S0
  double relativeEntropy = 0.0;     // of Q to the sample's equal weights
  double effectiveSize = 0.0;       // (sum w)^2 / sum w^2 of the base path's weights
  std::size_t paths = 0;            // the trajectories
  int sweeps = 0;
  bool met = false;
  bool parity = true;               // false: some strike's call and put contradict the forward
};

// The measure for the base path's prices `x` (units of S0), trajectory by trajectory, one
// value per expiry of `expiries` in their order, keeping each expiry's `forwards` (units of
// S0): the table's own, from its exact law, so that the sample's measure estimates the one the
// exact law calibrates (its own mean is off by the sample's noise). `watch` is asked before
// each sweep; a measure it stopped is not met, and not to be used.
SampleMeasure calibrateSample(const std::vector<double>& x,
                              const std::vector<ExpiryQuotes>& expiries,
                              const std::vector<double>& forwards, const WorkWatch& watch = {});

// log prod_e h_e at one trajectory's prices `x` (one per expiry, units of the path's start).
double logWeightOf(const SampleMeasure& measure, const double* x);

}  // namespace empricer
