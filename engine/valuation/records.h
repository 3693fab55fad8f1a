// What a valuation takes and what it gives back. Five-wide groups are in path order:
// shifted path 1, shifted path 2, base path, shifted path 3, shifted path 4.
#pragma once

#include <cstdint>

#include "engine/valuation/constants.h"

namespace empricer {

// Path-order index of shifted path k (k = 1..4), by k - 1.
constexpr int kShiftedPathIndex[4] = {0, 1, 3, 4};

struct ValuationRequest {
  double spot = 0.0;
  double strike = 0.0;
  double riskFreeRate = 0.0;
  std::int32_t days = 0;
  std::int32_t trajectories = 0;
  double stepFraction = 0.0;
  double shiftFactor[4] = {0.0, 0.0, 0.0, 0.0};
  bool withProbabilities = false;
  // The steps of a day (1 to kMostStepsPerDay): the band's day and the thetas' look back.
  std::int32_t stepsPerDay = kDefaultStepsPerDay;
};

struct ValuationResult {
  double callValue;     // base path
  double putValue;      // base path
  double stdevS;        // spread of the base path's terminal price
  double shiftCall[4];  // shifted paths 1..4
  double shiftPut[4];
  double probCall[5];   // path order; written only with probabilities on
  double probPut[5];
  double thetaCall[5];  // path order
  double thetaPut[5];
};
static_assert(sizeof(ValuationResult) == 31 * sizeof(double));

// Index into the four-wide shift groups of the shifted path at path-order index p (p != 2).
inline int shiftIndexOfPath(int p) { return p < kBasePath ? p : p - 1; }

// The start price of the path at path-order index p: the spot for the base path, the spot
// times the path's shift factor for the others.
inline double startPriceOfPath(const ValuationRequest& r, int p) {
  return p == kBasePath ? r.spot : r.spot * r.shiftFactor[shiftIndexOfPath(p)];
}

// The call (or put) value of the path at path-order index p.
inline double callValueOfPath(const ValuationResult& r, int p) {
  return p == kBasePath ? r.callValue : r.shiftCall[shiftIndexOfPath(p)];
}
inline double putValueOfPath(const ValuationResult& r, int p) {
  return p == kBasePath ? r.putValue : r.shiftPut[shiftIndexOfPath(p)];
}

}  // namespace empricer
