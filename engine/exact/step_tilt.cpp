#include "engine/exact/step_tilt.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace empricer {

namespace {

// The distinct returns and how many draws take each.
struct Support {
  std::vector<double> values;
  std::vector<double> counts;
};

Support supportOf(const std::vector<double>& returns) {
  std::vector<double> sorted = returns;
  std::sort(sorted.begin(), sorted.end());
  Support s;
  for (const double r : sorted) {
    if (!s.values.empty() && s.values.back() == r) {
      s.counts.back() += 1.0;
    } else {
      s.values.push_back(r);
      s.counts.push_back(1.0);
    }
  }
  return s;
}

TiltedSpread spreadOf(const Support& s, const StepTilt& tilt) {
  double top = -HUGE_VAL;
  for (const double r : s.values) top = std::max(top, tilt.logWeight(r));
  std::vector<double> weights(s.values.size());
  double total = 0.0;
  double sum = 0.0;
  for (std::size_t i = 0; i < s.values.size(); ++i) {
    weights[i] = s.counts[i] * std::exp(tilt.logWeight(s.values[i]) - top);
    total += weights[i];
    sum += weights[i] * s.values[i];
  }
  TiltedSpread spread;
  spread.mean = sum / total;
  double squares = 0.0;
  for (std::size_t i = 0; i < s.values.size(); ++i) {
    const double d = s.values[i] - spread.mean;
    squares += weights[i] * d * d;
  }
  spread.deviation = std::sqrt(squares / total);
  return spread;
}

// The root of a rising `miss`, from `start` (whose miss is `atStart`), stepping first by
// `step`: a bracket found by doubling the step (at most `doublings` times, or while `within`
// holds), then regula falsi with the Illinois halving and bisection as the safeguard, to a miss
// of at most `tolerance`. None when no bracket is found.
std::optional<double> risingRoot(const std::function<double(double)>& miss, double start,
                                 double atStart, double step, int doublings,
                                 const std::function<bool(double)>& within, double tolerance) {
  if (std::fabs(atStart) <= tolerance) return start;
  const double direction = atStart < 0.0 ? 1.0 : -1.0;
  double low = start;
  double lowMiss = atStart;
  double high = start;
  double highMiss = atStart;
  bool bracketed = false;
  for (int i = 0; i < doublings && !bracketed; ++i, step *= 2.0) {
    const double x = start + direction * step;
    if (!within(x)) return std::nullopt;
    const double m = miss(x);
    if (std::isnan(m)) return std::nullopt;
    if (std::fabs(m) <= tolerance) return x;
    if ((m < 0.0) == (atStart < 0.0)) {
      start = x;
      atStart = m;
      continue;
    }
    bracketed = true;
    low = direction > 0.0 ? start : x;
    lowMiss = direction > 0.0 ? atStart : m;
    high = direction > 0.0 ? x : start;
    highMiss = direction > 0.0 ? m : atStart;
  }
  if (!bracketed) return std::nullopt;
  double best = std::fabs(lowMiss) < std::fabs(highMiss) ? low : high;
  double bestMiss = std::min(std::fabs(lowMiss), std::fabs(highMiss));
  int replaced = 0;
  for (int i = 0; i < 300 && bestMiss > tolerance; ++i) {
    double x = high - highMiss * (high - low) / (highMiss - lowMiss);
    if (!(x > low && x < high)) x = low + (high - low) / 2;
    if (x <= low || x >= high) break;
    const double m = miss(x);
    if (std::fabs(m) < bestMiss) {
      best = x;
      bestMiss = std::fabs(m);
    }
    if (m < 0.0) {
      low = x;
      lowMiss = m;
      if (replaced == -1) highMiss /= 2;
      replaced = -1;
    } else {
      high = x;
      highMiss = m;
      if (replaced == 1) lowMiss /= 2;
      replaced = 1;
    }
  }
  return best;
}

}  // namespace

TiltedSpread tiltedSpread(const std::vector<double>& returns, const StepTilt& tilt) {
  return spreadOf(supportOf(returns), tilt);
}

std::optional<StepTilt> tiltToDeviation(const std::vector<double>& returns, double deviation) {
  if (!(deviation > 0.0) || !std::isfinite(deviation)) return std::nullopt;
  for (const double r : returns) {
    if (!std::isfinite(r)) return std::nullopt;
  }
  const Support s = supportOf(returns);
  if (s.values.size() < 2) return std::nullopt;
  const TiltedSpread plain = spreadOf(s, {});
  const double span = s.values.back() - s.values.front();
  // Past an exponent's spread of 1e4 over the returns the weights have left all but the
  // extreme (or the middle) returns: the family reaches no further.
  constexpr double kSaturated = 1e4;
  auto thetaFor = [&](double curvature) -> std::optional<double> {
    auto miss = [&](double theta) {
      return spreadOf(s, {theta, curvature}).mean - plain.mean;
    };
    auto within = [&](double theta) { return std::fabs(theta) * span <= kSaturated; };
    return risingRoot(miss, 0.0, miss(0.0), 0.1 / plain.deviation, 200, within,
                      1e-15 * plain.deviation);
  };
  std::optional<StepTilt> found;
  auto missOf = [&](double curvature) {
    const std::optional<double> theta = thetaFor(curvature);
    if (!theta) return std::nan("");
    return spreadOf(s, {*theta, curvature}).deviation - deviation;
  };
  auto within = [&](double curvature) {
    return std::fabs(curvature) * span * span <= kSaturated;
  };
  const std::optional<double> curvature =
      risingRoot(missOf, 0.0, plain.deviation - deviation,
                 0.05 / (plain.deviation * plain.deviation), 200, within, 1e-12 * deviation);
  if (!curvature) return std::nullopt;
  const std::optional<double> theta = thetaFor(*curvature);
  if (!theta) return std::nullopt;
  const StepTilt tilt{*theta, *curvature};
  // A root short of the tolerance (the family flattened before reaching it) is no tilt.
  if (std::fabs(spreadOf(s, tilt).deviation - deviation) > 1e-10 * deviation) return std::nullopt;
  return tilt;
}

}  // namespace empricer
