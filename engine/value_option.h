// One valuation: loads the distribution, simulates, and fills the result.
#pragma once

#include "engine/outcome.h"
#include "engine/random_generator.h"
#include "engine/records.h"

// The files a valuation uses; the caller names them.
struct ValuationFiles {
  const char* distribution;  // read at the start of every valuation
  const char* temporary;     // the terminal prices for the winning probabilities
};

// Fills `result` from `request`, drawing from `generator`, which it leaves where the last
// simulation step left it. Positions 12 to 21 (the probabilities) are written only when the
// request asks for them. Fails, with the message the program stops with, when the
// distribution does not load, or when the temporary file cannot be made or read back while
// the probabilities are on.
Status valueOption(const ValuationRequest& request, ValuationResult& result,
                   RandomGenerator& generator, const ValuationFiles& files);
