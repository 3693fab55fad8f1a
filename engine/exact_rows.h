// The exact valuer: every row from the exact law of its terminal prices
// (engine/exact_valuation.h), with the day laws kept from row to row while the distribution
// and the growth per step stay the same. It draws nothing, and grouping rows changes nothing.
#pragma once

#include <memory>

#include "engine/row_valuer.h"

namespace empricer {

// Each row's figures carry the largest ratio of an error estimate to its bound (errorRatio).
std::unique_ptr<RowValuer> exactRows(const RunRows& rows, const ValuerTools& tools);

}  // namespace empricer
