// The growth and the discounts of a valuation, as every figure takes them.
#pragma once

#include "engine/valuation/records.h"

namespace empricer {

// The shifted paths' growth per step: ((rate x stepFraction) x 0.01) x (270 / N) + 1, N the
// steps of a day; with N = 270 the scale is 1.0 exactly: (rate x stepFraction) x 0.01 + 1.
double growthPerStep(const ValuationRequest& request);

// The discount over the valuation's days: 2.718281828459 ^ -(days x rate x stepFraction).
double discountOf(const ValuationRequest& request);
// The same over one day fewer: the thetas' look back.
double dayBeforeDiscountOf(const ValuationRequest& request);

}  // namespace empricer
