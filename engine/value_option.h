// One valuation: loads the distribution, simulates, and fills the result.
#pragma once

#include "engine/records.h"

// Positions 12 to 21 (the probabilities) are written only when the request asks for them.
void valueOption(const ValuationRequest& request, ValuationResult& result);
