#include "engine/exact_rows.h"

#include <cstring>
#include <functional>
#include <string>

#include "engine/exact_valuation.h"
#include "engine/valuation_figures.h"

namespace empricer {

namespace {

class ExactRows final : public RowValuer {
 public:
  ExactRows(const RunRows& rows, const ValuerTools& tools) : rows_(rows), tools_(tools) {}

  Status value(std::size_t r, RowFigures& figures) override {
    if (Status loaded = tools_.distribution.refresh(tools_.distributionFile); !loaded.ok()) {
      return loaded;
    }
    const ValuationRequest request = requestOf(rows_, r);
    const double growth = growthPerStep(request);
    if (model_ == nullptr || loaded_ != tools_.distribution.current() ||
        std::memcmp(&growth, &growth_, sizeof growth) != 0) {
      model_.reset();
      loaded_ = tools_.distribution.current();
      growth_ = growth;
      model_ = std::make_unique<ExactModel>(loaded_->draws, growth, tools_.threads);
    }
    ExactError error;
    // The lattices of a row take a fraction of a second each: a stop is heard between rows.
    const std::function<bool(double)>& progress = tools_.watch.progress;
    figures = model_->value(
        request, tools_.choice, error,
        [&progress](double share) {
          if (progress) progress(share);
        },
        rows_.rows[r].quote);
    return {};
  }

  ValuationDraws drawsOf(std::size_t) const override { return {}; }

  std::string refusal(std::size_t r) const override {
    if (rows_.rows[r].days <= kExactMostDays) return {};
    return "the days (" + std::to_string(rows_.rows[r].days) + ") are more than --exact takes (" +
           std::to_string(kExactMostDays) + ")";
  }

 private:
  const RunRows& rows_;
  ValuerTools tools_;
  std::shared_ptr<const LoadedDistribution> loaded_;
  double growth_ = 0.0;
  std::unique_ptr<ExactModel> model_;
};

}  // namespace

std::unique_ptr<RowValuer> exactRows(const RunRows& rows, const ValuerTools& tools) {
  return std::make_unique<ExactRows>(rows, tools);
}

}  // namespace empricer
