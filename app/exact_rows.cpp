#include "app/exact_rows.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/file_names.h"
#include "app/row_turn.h"
#include "engine/valuation_figures.h"

namespace empricer {

Status ExactRows::value(RunContext& run, std::int64_t row, const ValuationRequest& request,
                        RowFigures& figures, const MarketQuote& quote) {
  if (Status loaded = run.distribution.refresh(kDistributionFileName); !loaded.ok()) {
    return loaded;
  }
  const double growth = growthPerStep(request);
  if (model_ == nullptr || loaded_ != run.distribution.current() ||
      std::memcmp(&growth, &growth_, sizeof growth) != 0) {
    model_.reset();
    loaded_ = run.distribution.current();
    growth_ = growth;
    model_ = std::make_unique<ExactModel>(loaded_->draws, growth, run.options.threads);
  }
  ExactError error;
  figures = model_->value(request, figureChoice(run), error, watchOf(run).progress, quote);
  if (std::isnan(error.worstRatio)) {
    std::fprintf(stderr,
                 "empricer: warning: row %lld: some exact figures are not numbers: a return "
                 "of dist.csv or an input of the row is not a number\n",
                 static_cast<long long>(row));
  } else if (error.worstRatio > 1.0) {
    std::fprintf(stderr,
                 "empricer: warning: row %lld: the exact figures may be off by up to %.3g "
                 "times their bound (values 1e-07 x start, probabilities and deltas 1e-07)\n",
                 static_cast<long long>(row), error.worstRatio);
  }
  std::fflush(stderr);
  return {};
}

}  // namespace empricer
