#include "tests/support/value_option.h"

#include <vector>

namespace empricer {

Status valueOption(const ValuationRequest& request, RowFigures& figures,
                   RandomGenerator& generator, const ValuationFiles& files,
                   ValuationQueue& queue, DistributionCache& distribution,
                   const FigureChoice& choice, const CompletionWatch& watch,
                   const MarketQuote& quote) {
  GroupPlan plan = planSingle(request, files.temporary, kKeptReadBackBytes, quote);
  enqueueGroup(queue, plan, generator);
  std::vector<RowFigures> values;
  const Status status =
      completeGroup(queue, distribution, files.distribution, plan, choice, values, watch);
  if (status.ok()) figures = values.front();
  return status;
}

}  // namespace empricer
