// From a valuation's sums to its figures: the discounted values, the spread of the base
// path's terminal price and the one-day thetas, each in the order of operations the results
// have always been computed in.
#pragma once

#include "engine/records.h"
#include "engine/row_pricer.h"

namespace empricer {

// The shifted paths' growth per step: (rate x stepFraction) x 0.01 + 1.
double growthPerStep(const ValuationRequest& request);

// The discount over the valuation's days: 2.718281828459 ^ -(days x rate x stepFraction).
double discountOf(const ValuationRequest& request);
// The same over one day fewer: the thetas' look back.
double dayBeforeDiscountOf(const ValuationRequest& request);

// Positions 1 to 11 and 22 to 31 of the result (the probabilities are not touched), from the
// sums over a terminal distribution of total weight `total` (a simulation's: its
// trajectories).
void fillFigures(const ValuationRequest& request, const PayoffSums& sums, double total,
                 ValuationResult& result);

}  // namespace empricer
