// One valuation: loads the distribution, simulates, and fills the result.
#pragma once

#include "engine/outcome.h"
#include "engine/random_generator.h"
#include "engine/records.h"
#include "engine/valuation_queue.h"

// Fills `result` from `request` on the threads of `queue` (which must hold no valuation),
// drawing from `generator`, which it leaves where the one-at-a-time loop leaves it. Positions
// 12 to 21 (the probabilities) are written only when the request asks for them. Fails, with
// the message the program stops with, when the distribution does not load, or when the
// temporary file cannot be made or read back while the probabilities are on.
Status valueOption(const ValuationRequest& request, ValuationResult& result,
                   RandomGenerator& generator, const ValuationFiles& files,
                   ValuationQueue& queue, const CompletionHooks& hooks = {});
// The same on the calling thread alone, with the widest kernel.
Status valueOption(const ValuationRequest& request, ValuationResult& result,
                   RandomGenerator& generator, const ValuationFiles& files);
