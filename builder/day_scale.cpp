#include "builder/day_scale.h"

#include <algorithm>
#include <cmath>

#include "engine/constants.h"

namespace empricer {

SessionLengths sessionLengths(const std::vector<std::int64_t>& counts) {
  std::vector<std::int64_t> held;
  for (const std::int64_t count : counts) {
    if (count > 0) held.push_back(count);
  }
  std::sort(held.begin(), held.end());
  SessionLengths lengths;
  lengths.sessions = static_cast<std::int64_t>(held.size());
  const std::size_t middle = held.size() / 2;
  const auto at = [&held](std::size_t i) { return static_cast<double>(held[i]); };
  lengths.median = held.size() % 2 == 1 ? at(middle) : (at(middle - 1) + at(middle)) / 2.0;
  lengths.shortest = held.front();
  lengths.longest = held.back();
  for (const std::int64_t count : held) {
    if (std::fabs(static_cast<double>(count) - lengths.median) > kUnevenShare * lengths.median) {
      ++lengths.uneven;
    }
  }
  return lengths;
}

DayScale dayScale(const DayScaleInput& input) {
  constexpr double kSteps = kStepsPerDay;
  DayScale scale;
  if (input.returnsPerDay) {
    scale.returnsPerDay = *input.returnsPerDay;
    scale.found = DayFound::given;
  } else if (input.sessionMedian) {
    scale.returnsPerDay = *input.sessionMedian;
    scale.found = DayFound::sessionMedian;
  } else {
    scale.returnsPerDay = kSteps;
    scale.found = DayFound::oneStepEach;
  }
  const double n = scale.returnsPerDay;
  const double m = input.data.mean;
  scale.mapped = n != kSteps || input.withGaps || input.chosenMean.has_value();
  if (!scale.mapped) {
    scale.mean = m;
    return scale;
  }
  if (input.withGaps) {
    const double s = input.data.standardDeviation;
    const double mg = input.gaps ? input.gaps->mean : 0.0;
    const double sg = input.gaps ? input.gaps->standardDeviation : 0.0;
    scale.factor = std::sqrt((n * s * s + sg * sg) / (kSteps * s * s));
    scale.mean = (n * m + mg) / kSteps;
  } else {
    scale.factor = std::sqrt(n / kSteps);
    scale.mean = n * m / kSteps;
  }
  if (input.chosenMean) scale.mean = *input.chosenMean;
  return scale;
}

void applyDayScale(std::vector<double>& returns, double dataMean, const DayScale& scale) {
  if (!scale.mapped) return;
  for (double& r : returns) r = scale.mean + (r - dataMean) * scale.factor;
}

}  // namespace empricer
