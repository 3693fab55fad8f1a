#include "engine/value_option.h"

#include <algorithm>
#include <iterator>
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

Status valueOption(const ValuationRequest& request, ValuationResult& result,
                   RandomGenerator& generator, const ValuationFiles& files) {
  DistributionCache distribution;
  ValuationQueue queue(1, SimulationChoice{});
  RowFigures figures{};
  const Status status = valueOption(request, figures, generator, files, queue, distribution);
  if (!status.ok()) return status;
  // Positions 12 to 21 are the caller's own unless the probabilities were asked for.
  if (!request.withProbabilities) {
    std::copy(std::begin(result.probCall), std::end(result.probCall), figures.result.probCall);
    std::copy(std::begin(result.probPut), std::end(result.probPut), figures.result.probPut);
  }
  result = figures.result;
  return status;
}

}  // namespace empricer
