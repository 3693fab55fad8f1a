// From a valuation's sums to its figures: the discounted values, the spread of the base
// path's terminal price and the one-day thetas, each in the order of operations the results
// have always been computed in.
#pragma once

#include "engine/path_simulation.h"
#include "engine/records.h"

namespace empricer {

// The shifted paths' growth per step: (rate x stepFraction) x 0.01 + 1.
double growthPerStep(const ValuationRequest& request);

// The discount over the valuation's days: 2.718281828459 ^ -(days x rate x stepFraction).
double discountOf(const ValuationRequest& request);

// Positions 1 to 11 and 22 to 31 of the result (the probabilities are not touched).
void fillFigures(const ValuationRequest& request, const SimulationSums& sums,
                 ValuationResult& result);

}  // namespace empricer
