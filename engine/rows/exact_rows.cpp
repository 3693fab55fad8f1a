#include "engine/rows/exact_rows.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/valuation/constants.h"
#include "engine/exact/exact_valuation.h"
#include "engine/exact/step_tilt.h"
#include "engine/desk/valuation_figures.h"
#include "text/number_text.h"

namespace empricer {

namespace {

// Half of one volatility point (0.01) of annualised volatility.
constexpr double kHalfVolatilityPoint = 0.005;

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
      reload(growth);
    }
    ExactError error;
    // A stop is heard between the steps of a day's walk, and between lattices.
    const WorkWatch watch(tools_.watch.progress);
    ExactModel& model = tools_.calibration != nullptr ? calibrated(request, watch) : *model_;
    figures = model.value(request, tools_.choice, error, watch, rows_.rows[r].quote);
    // A calibrated measure has no volatility of its own to move: no vega.
    if (tools_.choice.vega && tools_.calibration == nullptr) vegaOf(request, watch, figures);
    if (watch.stopped()) return stoppedFailure();
    return {};
  }

  Status prepare() override {
    if (Status checked =
            checkCalibration(rows_, tools_, [this](std::size_t r) { return refusal(r); });
        !checked.ok() || tools_.calibration == nullptr) {
      return checked;
    }
    // Each S0's measure before any row is valued: one its fit cannot find stops the run
    // before a value is written.
    const WorkWatch watch(tools_.watch.progress);
    for (std::size_t r = rows_.first; r < rows_.end; ++r) {
      if (!rows_.rows[r].valued || rows_.rows[r].days < 1 || !refusal(r).ok()) continue;
      const ValuationRequest request = requestOf(rows_, r);
      const double growth = growthPerStep(request);
      if (model_ == nullptr || loaded_ != tools_.distribution.current() ||
          std::memcmp(&growth, &growth_, sizeof growth) != 0) {
        reload(growth);
      }
      calibrated(request, watch);
      if (watch.stopped()) return stoppedFailure();
      if (Status met = calibrationMet(outcomes_.at(request.spot), tools_.calibrationFile);
          !met.ok()) {
        return met;
      }
    }
    return {};
  }

  ValuationDraws drawsOf(std::size_t) const override { return {}; }

  Status refusal(std::size_t r) const override {
    if (rows_.rows[r].days <= kExactMostDays) return {};
    return Failure{"the days (" + std::to_string(rows_.rows[r].days) +
                   ") are more than --exact takes (" + std::to_string(kExactMostDays) + ")"};
  }

 private:
  // The model of the row's S0, calibrated to its quotes; made when first asked for, and its
  // calibration logged then. One that `watch` stopped is not kept.
  ExactModel& calibrated(const ValuationRequest& request, const WorkWatch& watch) {
    auto& slot = calibrated_[request.spot];
    if (slot == nullptr) {
      const std::vector<QuotedPrice>& prices = tools_.calibration->at(request.spot);
      const std::vector<ExpiryQuotes> expiries = expiriesOf(prices, rows_.common);
      ExactSetup setup;
      setup.growth = growth_;
      setup.stepsPerDay = rows_.common.stepsPerDay;
      setup.threads = tools_.threads;
      setup.calibration = expiries;
      slot = std::make_unique<ExactModel>(loaded_->draws, setup);
      SpotCalibration solved = spotCalibration(*slot, request.spot, prices, expiries, watch);
      if (watch.stopped()) {
        // The stopped model stays the caller's until it returns; the next asks anew.
        stopped_ = std::move(slot);
        calibrated_.erase(request.spot);
        return *stopped_;
      }
      const SpotCalibration& outcome =
          outcomes_.insert_or_assign(request.spot, std::move(solved)).first->second;
      if (tools_.calibrationLog != nullptr) tools_.calibrationLog->spots.push_back(outcome);
    }
    return *slot;
  }

  void reload(double growth) {
    calibrated_.clear();
    model_.reset();
    up_.reset();
    down_.reset();
    loaded_ = tools_.distribution.current();
    growth_ = growth;
    const DrawTable& draws = loaded_->draws;
    ExactSetup setup;
    setup.growth = growth;
    setup.stepsPerDay = rows_.common.stepsPerDay;
    setup.threads = tools_.threads;
    model_ = std::make_unique<ExactModel>(draws, setup);
    if (!tools_.choice.vega) return;
    const std::vector<double> returns(std::begin(draws.returnFor), std::end(draws.returnFor));
    const double deviation = tiltedSpread(returns, {}).deviation;
    const double halfPoint =
        kHalfVolatilityPoint / std::sqrt(setup.stepsPerDay * tools_.choice.tradingDays);
    const std::optional<StepTilt> up = tiltToDeviation(returns, deviation + halfPoint);
    const std::optional<StepTilt> down = tiltToDeviation(returns, deviation - halfPoint);
    if (!up || !down) return;
    setup.tilt = *up;
    up_ = std::make_unique<ExactModel>(draws, setup);
    setup.tilt = *down;
    down_ = std::make_unique<ExactModel>(draws, setup);
  }

  // The call values of the two tilted laws, their difference reported as 0 where it is below
  // what their errors allow, and not at all where they are held to no bound.
  void vegaOf(const ValuationRequest& request, const WorkWatch& watch, RowFigures& figures) {
    if (up_ == nullptr || down_ == nullptr) return;
    ValuationRequest plain = request;
    plain.withProbabilities = false;
    ExactError upError;
    ExactError downError;
    const RowFigures up = up_->value(plain, FigureChoice{}, upError, watch);
    const RowFigures down = down_->value(plain, FigureChoice{}, downError, watch);
    if (watch.stopped() || !std::isfinite(upError.worstRatio) || !std::isfinite(downError.worstRatio)) return;
    const double errors =
        (std::max(upError.worstRatio, 1.0) + std::max(downError.worstRatio, 1.0)) *
        kExactPriceBound;
    for (int p = 0; p < kPathCount; ++p) {
      const double vega = callValueOfPath(up.result, p) - callValueOfPath(down.result, p);
      const double bound = errors * std::fabs(startPriceOfPath(request, p));
      figures.vega[p] = std::fabs(vega) < bound ? 0.0 : vega;
    }
  }

  const RunRows& rows_;
  ValuerTools tools_;
  std::shared_ptr<const LoadedDistribution> loaded_;
  double growth_ = 0.0;
  std::unique_ptr<ExactModel> model_;
  std::unique_ptr<ExactModel> up_;    // the table's volatility half a point up
  std::unique_ptr<ExactModel> down_;  // and down, for the vega
  std::map<double, std::unique_ptr<ExactModel>> calibrated_;  // by S0, with --calibrate
  std::map<double, SpotCalibration> outcomes_;                 // their calibrations
  std::unique_ptr<ExactModel> stopped_;  // a calibration stopped part way: not to be used
};

}  // namespace

std::unique_ptr<RowValuer> exactRows(const RunRows& rows, const ValuerTools& tools) {
  return std::make_unique<ExactRows>(rows, tools);
}

}  // namespace empricer
