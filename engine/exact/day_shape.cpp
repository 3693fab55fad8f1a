#include "engine/exact/day_shape.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "engine/valuation/constants.h"
#include "engine/exact/exact_law.h"
#include "engine/exact/exact_valuation.h"

namespace empricer {

namespace {

// The moments of values x_i of probabilities p_i (summing to 1).
DayShape momentsOf(const std::vector<double>& x, const std::vector<double>& p) {
  DayShape shape;
  double mean = 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) mean += p[i] * x[i];
  double m2 = 0.0;
  double m3 = 0.0;
  double m4 = 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double d = x[i] - mean;
    m2 += p[i] * d * d;
    m3 += p[i] * d * d * d;
    m4 += p[i] * d * d * d * d;
  }
  shape.mean = mean;
  shape.deviation = std::sqrt(m2);
  shape.skewness = m2 > 0.0 ? m3 / (m2 * std::sqrt(m2)) : 0.0;
  shape.excessKurtosis = m2 > 0.0 ? m4 / (m2 * m2) - 3.0 : 0.0;
  return shape;
}

}  // namespace

DayShape dayShapeOf(const DrawTable& draws, int stepsPerDay) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  for (double w : draws.returnFor) {
    if (std::isnan(w)) return {kNaN, kNaN, kNaN, kNaN, kNaN};
  }
  std::vector<double> x;
  std::vector<double> p;
  double held = 0.0;
  if (stepsPerDay == 1) {
    const double one = 1.0 / kGeneratorOutputs;
    for (double w : draws.returnFor) {
      // As a path moves: the factor, then held within the band's factors.
      const double factor = 1.0 + w;
      const bool above = factor > kUpperBand;
      const bool below = !above && factor < kLowerBand;
      held += above || below ? one : 0.0;
      x.push_back((above ? kUpperBand : below ? kLowerBand : factor) - 1.0);
      p.push_back(one);
    }
  } else {
    const DayLaw day = dayLaw(stepLaw(draws, PathKind::base, 0.0), 4 * latticeFor(draws),
                              stepsPerDay);
    if (day.certain) {
      x.push_back(std::expm1(day.certainAt));
      p.push_back(1.0);
    } else {
      for (std::size_t j = 0; j < day.mass.size(); ++j) {
        x.push_back(std::expm1(day.low + static_cast<double>(j) * day.spacing));
        p.push_back(day.mass[j]);
      }
      held = day.atomLow + day.atomHigh;
    }
  }
  DayShape shape = momentsOf(x, p);
  shape.heldAtEnd = held;
  return shape;
}

double annualisedStepVolatility(const DrawTable& draws, int stepsPerDay, double tradingDays) {
  return drawDeviation(draws) * std::sqrt(static_cast<double>(stepsPerDay) * tradingDays);
}

}  // namespace empricer
