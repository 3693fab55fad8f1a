#include "builder/canonical_tilt.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <memory>

#include "builder/moments.h"
#include "builder/table_text.h"
#include "text/input_stream.h"
#include "text/number_text.h"

namespace empricer {

double TiltShape::logOf(double r) const {
  const double z = (r - centre) / scale;
  const double below = std::min(z, 0.0);
  const double above = std::max(z, 0.0);
  const double beyond = std::max(std::fabs(z) - 2.0, 0.0);
  return curvature * r * r + down * below * below + up * above * above + tail * beyond * beyond;
}

namespace {

constexpr int kMostIterations = 200;
// Past this spread of theta x return every weight but the top's (or the bottom's) lies at the
// grid's floor: the tilt draws its extreme mean.
constexpr double kSaturatedSpread = 800.0;

// The log of the tilt of `ret`.
double tiltOf(double ret, double theta, const TiltShape& shape) {
  return theta * ret + shape.logOf(ret);
}

// The rows of the tilt by `theta` and `shape`, on the grid, the rows after the first
// summing to `rest`.
std::vector<TiltedRow> tiltedRows(const std::vector<DistRow>& history, double theta,
                                  const TiltShape& shape, double rest) {
  std::vector<TiltedRow> rows(history.size());
  double top = -HUGE_VAL;
  for (std::size_t i = 1; i < history.size(); ++i) {
    if (history[i].weight > 0) {
      top = std::max(top, std::log(static_cast<double>(history[i].weight)) +
                              tiltOf(history[i].ret, theta, shape));
    }
  }
  double sum = 0.0;
  std::vector<double> shares(history.size(), 0.0);
  for (std::size_t i = 1; i < history.size(); ++i) {
    if (history[i].weight <= 0) continue;
    shares[i] = std::exp(std::log(static_cast<double>(history[i].weight)) +
                         tiltOf(history[i].ret, theta, shape) - top);
    sum += shares[i];
  }
  double written = 0.0;
  std::size_t largest = 1;
  for (std::size_t i = 0; i < history.size(); ++i) {
    rows[i].ret = history[i].ret;
    if (i == 0) {
      rows[i].weight = static_cast<double>(history[i].weight);
      continue;
    }
    if (history[i].weight <= 0) continue;
    const double steps = std::nearbyint(rest * (shares[i] / sum) / kTiltWeightGrid);
    rows[i].weight = std::max(1.0, steps) * kTiltWeightGrid;
    written += rows[i].weight;  // exact: multiples of the grid below 2^15
    if (rows[i].weight > rows[largest].weight) largest = i;
  }
  rows[largest].weight += rest - written;
  return rows;
}

// The moments over the generator's outputs of the table that `rows` are, read as the
// valuation reads their text.
Outcome<Moments> drawnMomentsOf(const std::vector<TiltedRow>& rows, const std::string& name) {
  return drawnMoments(tableText(rows), name);
}

Outcome<double> drawnMeanOf(const std::vector<TiltedRow>& rows, const std::string& name) {
  Outcome<Moments> drawn = drawnMomentsOf(rows, name);
  if (!drawn.ok()) return failureOf(drawn);
  return drawn.value().mean;
}

// What no tilt reaches: the table cannot be made.
Failure unreachable(double mean, const std::string& why) {
  return Failure{"--mean canonical: the mean per step " + numberText(mean) + " " + why,
                 FailureKind::cannotCompute};
}

struct Point {
  double theta = 0.0;
  double miss = 0.0;  // drawn mean - the mean sought
};

// theta from `inside` (miss below 0) and `outside` (miss above 0), or the reverse, by regula
// falsi with the Illinois halving and bisection when a step falls outside the bracket.
double narrowed(Point low, Point high, const std::vector<DistRow>& history, const TiltShape& shape,
                double rest, double mean, double tolerance, const std::string& name,
                int& iterations) {
  Point best = std::fabs(low.miss) < std::fabs(high.miss) ? low : high;
  int replaced = 0;  // which end the last step replaced: -1 low, +1 high
  while (iterations < kMostIterations && std::fabs(best.miss) > tolerance) {
    double theta = high.theta - high.miss * (high.theta - low.theta) / (high.miss - low.miss);
    if (!(theta > low.theta && theta < high.theta)) theta = low.theta + (high.theta - low.theta) / 2;
    if (theta <= low.theta || theta >= high.theta) break;  // no double lies between
    ++iterations;
    const Outcome<double> drawn = drawnMeanOf(tiltedRows(history, theta, shape, rest), name);
    if (!drawn.ok()) break;
    const Point at{theta, drawn.value() - mean};
    if (std::fabs(at.miss) < std::fabs(best.miss)) best = at;
    if (at.miss == 0.0) break;
    if (at.miss < 0.0) {
      low = at;
      if (replaced == -1) high.miss /= 2;
      replaced = -1;
    } else {
      high = at;
      if (replaced == 1) low.miss /= 2;
      replaced = 1;
    }
  }
  return best.theta;
}

}  // namespace

Outcome<CanonicalTable> canonicalTable(const std::vector<DistRow>& history, double mean,
                                       const std::string& name, const TiltShape& shape) {
  double lowest = HUGE_VAL;
  double highest = -HUGE_VAL;
  double rest = 0.0;
  double weighted = 0.0;
  for (std::size_t i = 1; i < history.size(); ++i) {
    if (history[i].weight <= 0) continue;
    lowest = std::min(lowest, history[i].ret);
    highest = std::max(highest, history[i].ret);
    rest += history[i].weight;
    weighted += history[i].weight * history[i].ret;
  }
  if (lowest == highest) {
    return unreachable(mean, "cannot be drawn from a table whose rows after the first hold one "
                             "return, " + numberText(lowest) + ": a tilt of its weights has "
                             "nothing to weigh; more rows (--max-rows) give it the returns");
  }
  if (!(mean > lowest && mean < highest)) {
    return unreachable(mean, "lies outside the returns' range, from " + numberText(lowest) +
                                 " to " + numberText(highest) +
                                 ": no tilt of the history's weights has that mean");
  }
  // A first step of Newton's on the rows' weighted mean: its slope at 0 is their variance.
  double variance = 0.0;
  for (std::size_t i = 1; i < history.size(); ++i) {
    const double d = history[i].ret - weighted / rest;
    variance += history[i].weight * d * d;
  }
  variance /= rest;

  CanonicalTable result;
  const Outcome<double> start = drawnMeanOf(tiltedRows(history, 0.0, shape, rest), name);
  if (!start.ok()) return failureOf(start);
  const double tolerance = 1e-12 * (highest - lowest);
  const double saturated = kSaturatedSpread / (highest - lowest);
  Point previous{0.0, start.value() - mean};
  Point at = previous;
  result.iterations = 1;
  // From a first step of Newton's, doubled until the miss changes sign or the tilt saturates.
  double theta = -previous.miss / variance;
  while (std::fabs(at.miss) > tolerance) {
    const Outcome<double> drawn = drawnMeanOf(tiltedRows(history, theta, shape, rest), name);
    if (!drawn.ok()) return failureOf(drawn);
    ++result.iterations;
    at = Point{theta, drawn.value() - mean};
    if (std::fabs(at.miss) <= tolerance) break;
    if ((at.miss < 0) != (previous.miss < 0)) {
      const bool upward = at.theta > previous.theta;
      at.theta = narrowed(upward ? previous : at, upward ? at : previous, history, shape,
                          rest, mean, tolerance, name, result.iterations);
      break;
    }
    if (std::fabs(theta) >= saturated || result.iterations >= kMostIterations) {
      return unreachable(mean, "lies beyond the means a tilt of the history's weights can draw: "
                               "the most extreme tilt draws " + numberText(at.miss + mean));
    }
    previous = at;
    theta *= 2;
  }
  result.theta = at.theta;
  result.shape = shape;
  result.rows = tiltedRows(history, result.theta, shape, rest);
  const Outcome<Moments> drawn = drawnMomentsOf(result.rows, name);
  if (!drawn.ok()) return failureOf(drawn);
  result.drawnMean = drawn.value().mean;
  result.drawnDeviation = drawn.value().standardDeviation;

  const double total = rest + history[0].weight;
  double squares = 0.0;
  double historySquares = 0.0;
  for (std::size_t i = 0; i < history.size(); ++i) {
    const double p = history[i].weight / total;
    const double q = result.rows[i].weight / total;
    if (p > 0.0) result.relativeEntropy += q * std::log(q / p);
    squares += q * q;
    historySquares += p * p;
  }
  result.effectiveSize = 1.0 / squares;
  result.historySize = 1.0 / historySquares;
  return result;
}

namespace {

// A curvature tried: its table (the canonical one of the mean) and what its drawn deviation
// misses of the one sought.
struct Tried {
  double curvature = 0.0;
  double miss = 0.0;
  CanonicalTable table;
};

Failure volatilityUnreachable(double deviation, const std::string& why) {
  return Failure{
      "--target-vol: a standard deviation per step of " + numberText(deviation) + " " + why,
      FailureKind::cannotCompute};
}

}  // namespace

Outcome<CanonicalTable> volatilityTable(const std::vector<DistRow>& history, double mean,
                                        double deviation, const std::string& name) {
  double largest = 0.0;
  double smallest = HUGE_VAL;  // the least size of a return other than 0
  double rest = 0.0;
  double sum = 0.0;
  double squares = 0.0;
  for (std::size_t i = 1; i < history.size(); ++i) {
    if (history[i].weight <= 0) continue;
    const double w = static_cast<double>(history[i].weight);
    largest = std::max(largest, std::fabs(history[i].ret));
    if (history[i].ret != 0.0) smallest = std::min(smallest, std::fabs(history[i].ret));
    rest += w;
    sum += w * history[i].ret;
    squares += w * history[i].ret * history[i].ret;
  }
  const double variance = squares / rest - (sum / rest) * (sum / rest);
  if (!(deviation > 0.0 && variance > 0.0 && largest > 0.0)) {
    return volatilityUnreachable(deviation, "needs returns of some spread");
  }
  const double tolerance = 1e-9 * deviation;
  int iterations = 0;
  auto tryAt = [&](double curvature) -> Outcome<Tried> {
    Outcome<CanonicalTable> made =
        canonicalTable(history, mean, name, TiltShape{.curvature = curvature});
    if (!made.ok()) return failureOf(made);
    iterations += made.value().iterations;
    return Tried{curvature, made.value().drawnDeviation - deviation, std::move(made.value())};
  };
  auto done = [&](Tried tried) -> Outcome<CanonicalTable> {
    tried.table.iterations = iterations;
    return std::move(tried.table);
  };
  Outcome<Tried> first = tryAt(0.0);
  if (!first.ok()) return failureOf(first);
  Tried previous = std::move(first.value());
  if (std::fabs(previous.miss) <= tolerance) return done(std::move(previous));
  // From a twentieth of a spread's curvature, doubled until the miss changes sign.
  const double direction = previous.miss < 0.0 ? 1.0 : -1.0;
  double curvature = direction * 0.05 / variance;
  // Past this size of the curvature the tilt leaves all the weight on the extreme returns
  // (widening) or on those nearest 0 (narrowing).
  const double nearest = std::max(smallest, 1e-6 * largest);
  const double most = kSaturatedSpread / (direction > 0.0 ? largest * largest : nearest * nearest);
  Tried low;
  Tried high;
  while (true) {
    curvature = direction * std::min(std::fabs(curvature), most);
    Outcome<Tried> at = tryAt(curvature);
    if (!at.ok() || (at.value().miss < 0.0) == (previous.miss < 0.0)) {
      if (at.ok() && std::fabs(at.value().miss) <= tolerance) return done(std::move(at.value()));
      if (!at.ok() || std::fabs(curvature) >= most) {
        return volatilityUnreachable(
            deviation, std::string("lies beyond what a tilt of the history's weights draws: ") +
                           (direction > 0.0 ? "the widest" : "the narrowest") +
                           " tilt tried draws " + numberText(previous.table.drawnDeviation));
      }
      previous = std::move(at.value());
      curvature *= 2.0;
      continue;
    }
    if (std::fabs(at.value().miss) <= tolerance) return done(std::move(at.value()));
    const bool upward = direction > 0.0;
    low = upward ? std::move(previous) : std::move(at.value());
    high = upward ? std::move(at.value()) : std::move(previous);
    break;
  }
  // Regula falsi with the Illinois halving; the drawn deviation rises with the curvature.
  Tried best = std::fabs(low.miss) < std::fabs(high.miss) ? low : high;
  int replaced = 0;
  for (int step = 0; step < kMostIterations && std::fabs(best.miss) > tolerance; ++step) {
    double c = high.curvature -
               high.miss * (high.curvature - low.curvature) / (high.miss - low.miss);
    if (!(c > low.curvature && c < high.curvature)) {
      c = low.curvature + (high.curvature - low.curvature) / 2;
    }
    if (c <= low.curvature || c >= high.curvature) break;
    Outcome<Tried> at = tryAt(c);
    if (!at.ok()) return failureOf(at);
    if (std::fabs(at.value().miss) < std::fabs(best.miss)) best = at.value();
    if (at.value().miss < 0.0) {
      low = std::move(at.value());
      if (replaced == -1) high.miss /= 2;
      replaced = -1;
    } else {
      high = std::move(at.value());
      if (replaced == 1) low.miss /= 2;
      replaced = 1;
    }
  }
  return done(std::move(best));
}

Moments tiltedMoments(const std::vector<double>& returns, double theta, const TiltShape& shape) {
  double top = -HUGE_VAL;
  for (const double r : returns) top = std::max(top, tiltOf(r, theta, shape));
  std::vector<double> weights(returns.size());
  double total = 0.0;
  double sum = 0.0;
  Moments m;
  m.minimum = HUGE_VAL;
  m.maximum = -HUGE_VAL;
  for (std::size_t i = 0; i < returns.size(); ++i) {
    weights[i] = std::exp(tiltOf(returns[i], theta, shape) - top);
    total += weights[i];
    sum += weights[i] * returns[i];
    m.minimum = std::min(m.minimum, returns[i]);
    m.maximum = std::max(m.maximum, returns[i]);
  }
  m.mean = sum / total;
  double second = 0.0;
  double third = 0.0;
  double fourth = 0.0;
  for (std::size_t i = 0; i < returns.size(); ++i) {
    const double d = returns[i] - m.mean;
    const double w = weights[i] / total;
    second += w * d * d;
    third += w * d * d * d;
    fourth += w * d * d * d * d;
  }
  m.standardDeviation = std::sqrt(second);
  m.skewness = third / (second * m.standardDeviation);
  m.excessKurtosis = fourth / (second * second) - 3.0;
  return m;
}

double tiltedEffectiveSize(const std::vector<double>& returns, double theta,
                           const TiltShape& shape) {
  double top = -HUGE_VAL;
  for (const double r : returns) top = std::max(top, tiltOf(r, theta, shape));
  double total = 0.0;
  double squares = 0.0;
  for (const double r : returns) {
    const double w = std::exp(tiltOf(r, theta, shape) - top);
    total += w;
    squares += w * w;
  }
  return total * total / squares;
}

}  // namespace empricer
