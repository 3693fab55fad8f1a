// Completing a valuation: the distribution file, the temporary file of terminal prices, the
// sums in trajectory order, the figures and the winning probabilities.
#pragma once

#include <functional>

#include "engine/desk_figures.h"
#include "engine/distribution_cache.h"
#include "engine/outcome.h"
#include "engine/random_generator.h"
#include "engine/records.h"
#include "engine/trajectory_accumulator.h"
#include "engine/valuation_queue.h"

namespace empricer {

// The files a valuation uses; the caller names them.
struct ValuationFiles {
  const char* distribution;  // read at the start of every valuation
  const char* temporary;     // the terminal prices for the winning probabilities
};

// What a completion does besides the valuation itself.
struct CompletionHooks {
  StandardErrors* standardErrors = nullptr;  // filled when given
  DeskFigures* desk = nullptr;               // likewise
  double tradingDays = 252.0;                // for the desk figures' yearly volatility
  // Called now and then while the valuation's trajectories are added up, with the share of
  // them done so far.
  std::function<void(double share)> progress;
};

// Completes the oldest valuation of `queue`: reads the distribution file into `distribution`,
// creates (or empties) the temporary file, adds up the trajectories in order, fills `result`,
// and with the probabilities on writes the terminal prices to the temporary file, reads them
// back and removes it. Positions 12 to 21 (the probabilities) are written only when the
// request asks for them. Fails, with the message the program stops with, when the
// distribution does not load, or when the temporary file cannot be made (it is never opened
// through a symbolic link), written or read back while the probabilities are on; the
// valuation stays queued when the distribution fails.
Status completeValuation(ValuationQueue& queue, DistributionCache& distribution,
                         const ValuationFiles& files, ValuationResult& result,
                         const CompletionHooks& hooks = {});

// Hands `request` to `queue` (which must hold no valuation), drawing from `generator`, and
// completes it.
Status valueOption(const ValuationRequest& request, ValuationResult& result,
                   RandomGenerator& generator, const ValuationFiles& files,
                   ValuationQueue& queue, DistributionCache& distribution,
                   const CompletionHooks& hooks = {});
// The same on the calling thread alone, with the widest kernel.
Status valueOption(const ValuationRequest& request, ValuationResult& result,
                   RandomGenerator& generator, const ValuationFiles& files);

}  // namespace empricer
