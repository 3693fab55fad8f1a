#include "runs/day_notice.h"

#include <algorithm>
#include <cmath>

#include "engine/valuation/constants.h"
#include "engine/exact/day_shape.h"
#include "text/number_text.h"

namespace empricer {

namespace {

std::string percent(double share) {
  std::string text;
  appendNumber(text, 100.0 * share);
  return text + "%";
}

}  // namespace

std::optional<DayNotice> implausibleDay(const DrawTable& draws, int stepsPerDay,
                                        double tradingDays) {
  // Draws all alike have no spread, whatever the rounding of their deviation says.
  const auto [lowest, highest] =
      std::minmax_element(std::begin(draws.returnFor), std::end(draws.returnFor));
  if (!(*lowest < *highest)) return std::nullopt;
  const double volatility = annualisedStepVolatility(draws, stepsPerDay, tradingDays);
  if (!std::isfinite(volatility) || !(volatility > 0.0)) return std::nullopt;
  if (volatility >= kLeastPlausibleVolatility && volatility <= kMostPlausibleVolatility) {
    return std::nullopt;
  }
  // The volatility grows as the root of the steps: the steps that give the typical one.
  const double ratio = kTypicalVolatility / volatility;
  const double ideal = stepsPerDay * ratio * ratio;
  const int suggested = static_cast<int>(
      std::clamp(std::round(ideal), 1.0, static_cast<double>(kMostStepsPerDay)));
  const double then = annualisedStepVolatility(draws, suggested, tradingDays);
  const bool helps = then >= kLeastPlausibleVolatility && then <= kMostPlausibleVolatility;
  std::string days;
  appendNumber(days, tradingDays);
  return DayNotice{
      "a day of " + std::to_string(stepsPerDay) + (stepsPerDay == 1 ? " step" : " steps") +
          " has an annualised volatility of " + percent(volatility),
      (volatility > kMostPlausibleVolatility ? "above " + percent(kMostPlausibleVolatility)
                                             : "below " + percent(kLeastPlausibleVolatility)) +
          " before the band (" + days + " trading days a year)" +
          (helps ? ", as a table made for another number of steps a day gives; --steps-per-day " +
                       std::to_string(suggested) + " gives " + percent(then) +
                       " (a table of daily closes needs 1)"
                 : ", and no number of steps a day from 1 to " +
                       std::to_string(kMostStepsPerDay) + " gives one from " +
                       percent(kLeastPlausibleVolatility) + " to " +
                       percent(kMostPlausibleVolatility))};
}

std::optional<std::string> implausibleDayNotice(const DrawTable& draws, int stepsPerDay,
                                                double tradingDays) {
  const std::optional<DayNotice> notice = implausibleDay(draws, stepsPerDay, tradingDays);
  if (!notice) return std::nullopt;
  return "dist.csv: " + notice->what + ": " + notice->why;
}

}  // namespace empricer
