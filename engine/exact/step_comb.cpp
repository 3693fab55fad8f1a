#include "engine/exact/step_comb.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "engine/valuation/constants.h"

namespace empricer {

namespace {

// The most values the typical gap is taken from and its frequencies summed over.
constexpr std::size_t kMostSampled = 2048;

// The finite values of a step law (ascending) and their probabilities, without copies.
struct Values {
  const std::vector<double>& x;
  const std::vector<double>& p;
  std::size_t begin;  // the finite ones: [begin, end)
  std::size_t end;
  std::size_t size() const { return end - begin; }
};

// |sum p_i e^(i k 2 pi x_i / d)| / sum p_i for k = 1 .. most, the largest, over every
// `stride`-th value.
double largestAt(const Values& v, double d, int most, std::size_t stride) {
  std::vector<std::complex<double>> sums(static_cast<std::size_t>(most));
  double total = 0.0;
  for (std::size_t i = v.begin; i < v.end; i += stride) {
    total += v.p[i];
    // The turns of the first frequency, kept within one turn before the angle is taken.
    const double turns = v.x[i] / d - std::floor(v.x[i] / d);
    const std::complex<double> first = std::polar(1.0, 2.0 * std::numbers::pi * turns);
    std::complex<double> power = first;
    for (int k = 0; k < most; ++k) {
      sums[static_cast<std::size_t>(k)] += v.p[i] * power;
      power *= first;
    }
  }
  double largest = 0.0;
  for (const auto& s : sums) largest = std::max(largest, std::abs(s) / total);
  return largest;
}

}  // namespace

double combStrength(const StepLaw& steps) {
  // The log steps ascend: -infinity (a factor of 0 or below) first, none above +infinity.
  Values v{steps.logStep, steps.probability, 0, steps.logStep.size()};
  while (v.begin < v.end && !std::isfinite(v.x[v.begin])) ++v.begin;
  while (v.end > v.begin && !std::isfinite(v.x[v.end - 1])) --v.end;
  if (v.size() < 2) return 0.0;
  double strength = 0.0;
  // The two heaviest values a whole number of turns apart.
  std::size_t first = v.begin;
  std::size_t second = v.begin + 1;
  if (v.p[second] > v.p[first]) std::swap(first, second);
  for (std::size_t i = v.begin + 2; i < v.end; ++i) {
    if (v.p[i] > v.p[first]) {
      second = first;
      first = i;
    } else if (v.p[i] > v.p[second]) {
      second = i;
    }
  }
  if (v.p[second] >= 0.01) strength = largestAt(v, std::fabs(v.x[first] - v.x[second]), 16, 1);
  // Values on a lattice are on it one by one: a sample of them evenly spread tells. Each
  // sampled value's distance to its nearest neighbour, the median of them.
  const std::size_t stride = (v.size() + kMostSampled - 1) / kMostSampled;
  std::vector<double> gaps;
  for (std::size_t i = v.begin; i < v.end; i += stride) {
    double gap = HUGE_VAL;
    if (i > v.begin) gap = v.x[i] - v.x[i - 1];
    if (i + 1 < v.end) gap = std::min(gap, v.x[i + 1] - v.x[i]);
    gaps.push_back(gap);
  }
  const auto middle = gaps.begin() + static_cast<std::ptrdiff_t>(gaps.size() / 2);
  std::nth_element(gaps.begin(), middle, gaps.end());
  const double typical = *middle;
  if (typical > 0.0 && std::isfinite(typical)) {
    strength = std::max(strength, largestAt(v, typical, 4, stride));
  }
  return std::min(strength, 1.0);
}

std::int64_t combedDays(double strength, std::int64_t mostDays, int stepsPerDay) {
  if (!(strength > 0.0)) return 0;
  if (strength >= 1.0) return mostDays;
  // strength^(N days) >= tolerance while days <= log(tolerance) / (N log(strength)).
  const double days = std::log(kCombTolerance) / (stepsPerDay * std::log(strength));
  if (!(days < static_cast<double>(mostDays))) return mostDays;
  return static_cast<std::int64_t>(std::floor(days));
}

}  // namespace empricer
