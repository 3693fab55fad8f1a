// The exact valuer: every row from the exact law of its terminal prices
// (engine/exact/exact_valuation.h), with the day laws kept from row to row while the distribution
// and the growth per step stay the same. It draws nothing, and grouping rows changes nothing.
#pragma once

#include <memory>

#include "engine/rows/row_valuer.h"

namespace empricer {

// Each row's figures carry the largest ratio of an error estimate to its bound (errorRatio).
// With the vega chosen, each path's vega too: the call's value with the table's step law tilted
// (engine/exact/step_tilt.h) to an annualised volatility half a point above the table's, less its
// value half a point below, the annualised volatility being the standard deviation of the
// draws' returns times sqrt(270 x trading days); 0 where that difference is below the sum of
// the two values' error bounds, and none where the family cannot draw both volatilities.
std::unique_ptr<RowValuer> exactRows(const RunRows& rows, const ValuerTools& tools);

}  // namespace empricer
