#include "builder/quantile_targets.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "engine/valuation/constants.h"

namespace empricer {

std::vector<double> quantileTargets(const std::vector<double>& sortedReturns, double mean,
                                    double standardDeviation) {
  // In units where each return holds kGeneratorOutputs and each slice holds n, return i covers
  // [i * outputs, (i + 1) * outputs) and slice j covers [j * n, (j + 1) * n).
  const auto n = static_cast<std::int64_t>(sortedReturns.size());
  constexpr std::int64_t kOutputs = kGeneratorOutputs;
  std::vector<double> targets(static_cast<std::size_t>(kOutputs));
  for (std::int64_t j = 0; j < kOutputs; ++j) {
    const std::int64_t start = j * n;
    const std::int64_t end = start + n;
    std::int64_t i = start / kOutputs;
    double& target = targets[static_cast<std::size_t>(j)];
    if (end <= (i + 1) * kOutputs) {
      target = sortedReturns[static_cast<std::size_t>(i)];
      continue;
    }
    // Summed as differences from the slice's first return, so that a slice of equal returns
    // is that return exactly.
    const double first = sortedReturns[static_cast<std::size_t>(i)];
    double sum = 0.0;
    for (; i * kOutputs < end; ++i) {
      const std::int64_t overlap = std::min(end, (i + 1) * kOutputs) - std::max(start, i * kOutputs);
      sum += static_cast<double>(overlap) * (sortedReturns[static_cast<std::size_t>(i)] - first);
    }
    target = first + sum / static_cast<double>(n);
  }
  // Rounding must not let a slice fall below the one before.
  for (std::size_t j = 1; j < targets.size(); ++j) targets[j] = std::max(targets[j], targets[j - 1]);

  double squares = 0.0;
  for (const double t : targets) squares += (t - mean) * (t - mean);
  const double spread = std::sqrt(squares / static_cast<double>(kOutputs));
  if (spread > 0.0 && spread < standardDeviation * (1.0 - kSpreadLossLimit)) {
    const double factor = standardDeviation / spread;
    for (double& t : targets) t = mean + (t - mean) * factor;
  }
  return targets;
}

}  // namespace empricer
