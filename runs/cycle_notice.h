// Rows whose valuation takes more draws than the generator's outputs' cycle of 2^31: past it
// the trajectories repeat earlier ones, so more of them add no information, while the
// standard errors keep falling as if they did.
#pragma once

#include <string>

#include "engine/rows/row_valuer.h"

namespace empricer {

// Why a row's figures are less precise than their standard errors say: for a warning and for
// --check. Only for draws past the cycle.
std::string cycleReason(const ValuationDraws& valuation);

}  // namespace empricer
