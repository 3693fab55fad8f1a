// The rows of an --exact run: each valued from the exact law of its terminal prices, with the
// day laws kept from row to row while dist.csv and the growth per step stay the same.
#pragma once

#include <cstdint>
#include <memory>

#include "app/runs.h"
#include "engine/distribution_cache.h"
#include "engine/exact_valuation.h"
#include "engine/group_valuation.h"
#include "text/status.h"

namespace empricer {

class ExactRows {
 public:
  // Reads dist.csv as every valuation does, values `request` into `figures`, and warns on
  // standard error when row `row`'s figures may be further from their limits than the bounds.
  Status value(RunContext& run, std::int64_t row, const ValuationRequest& request,
               RowFigures& figures, const MarketQuote& quote = {});

 private:
  std::shared_ptr<const LoadedDistribution> loaded_;
  double growth_ = 0.0;
  std::unique_ptr<ExactModel> model_;
};

}  // namespace empricer
