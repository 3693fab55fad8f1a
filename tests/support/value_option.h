// One valuation on its own: the group of one row (see group_valuation.h), with the temporary
// file of its terminal prices.
#pragma once

#include <functional>

#include "engine/simulation/group_valuation.h"

namespace empricer {

// The files a valuation uses; the caller names them.
struct ValuationFiles {
  const char* distribution;  // read at the start of every valuation
  const char* temporary;     // the terminal prices while the probabilities are worked out
};

// Hands `request` to `queue` (which must hold no valuation), drawing from `generator`, and
// completes it into `figures` (see completeGroup).
Status valueOption(const ValuationRequest& request, RowFigures& figures,
                   RandomGenerator& generator, const ValuationFiles& files,
                   ValuationQueue& queue, DistributionCache& distribution,
                   const FigureChoice& choice = {}, const CompletionWatch& watch = {},
                   const MarketQuote& quote = {});

}  // namespace empricer
