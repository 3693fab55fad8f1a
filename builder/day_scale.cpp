#include "builder/day_scale.h"

#include <algorithm>
#include <cmath>


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

namespace {

// A median count of returns as a whole number of steps, halves up, within empricer's range.
int wholeSteps(double median) {
  const double steps = std::floor(median + 0.5);
  return static_cast<int>(std::clamp(steps, static_cast<double>(kLeastStepsPerDay),
                                     static_cast<double>(kMostStepsPerDay)));
}

}  // namespace

DayScale daySteps(const DayScaleInput& input) {
  DayScale scale;
  // A given number of returns per day keeps the day of earlier versions, kDefaultStepsPerDay.
  if (input.stepsPerDay) {
    scale.stepsPerDay = *input.stepsPerDay;
  } else if (!input.returnsPerDay && input.sessionMedian) {
    scale.stepsPerDay = wholeSteps(*input.sessionMedian + (input.withGaps ? 1.0 : 0.0));
  } else if (!input.returnsPerDay && input.dateMedian) {
    scale.stepsPerDay = wholeSteps(*input.dateMedian);
  }
  if (input.returnsPerDay) {
    scale.returnsPerDay = *input.returnsPerDay;
    scale.found = DayFound::given;
  } else if (input.sessionMedian) {
    scale.returnsPerDay = *input.sessionMedian;
    scale.found = DayFound::sessionMedian;
  } else if (input.dateMedian && (!input.stepsPerDay || input.daily)) {
    scale.returnsPerDay = *input.dateMedian;
    scale.found = DayFound::dateMedian;
  } else {
    scale.returnsPerDay = scale.stepsPerDay;
    scale.found = DayFound::oneStepEach;
  }
  return scale;
}

DayScale dayScale(const DayScaleInput& input) {
  DayScale scale = daySteps(input);
  const double t = scale.stepsPerDay;
  const double n = scale.returnsPerDay;
  const double m = input.data.mean;
  scale.mapped = n != t || input.withGaps || input.chosenMean.has_value();
  if (!scale.mapped) {
    scale.mean = m;
    return scale;
  }
  if (input.withGaps) {
    const double s = input.data.standardDeviation;
    const double mg = input.gaps ? input.gaps->mean : 0.0;
    const double sg = input.gaps ? input.gaps->standardDeviation : 0.0;
    scale.factor = std::sqrt((n * s * s + sg * sg) / (t * s * s));
    scale.mean = (n * m + mg) / t;
  } else {
    scale.factor = std::sqrt(n / t);
    scale.mean = n * m / t;
  }
  if (input.chosenMean) scale.mean = *input.chosenMean;
  return scale;
}

void applyDayScale(std::vector<double>& returns, double dataMean, const DayScale& scale) {
  if (!scale.mapped) return;
  for (double& r : returns) r = scale.mean + (r - dataMean) * scale.factor;
}

}  // namespace empricer
