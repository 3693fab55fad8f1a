#include "builder/table_fit.h"

#include <algorithm>
#include <cstddef>
#include <limits>

#include "engine/valuation/constants.h"

namespace empricer {

namespace {

struct Knot {
  std::int32_t at = 0;  // the draw (cumulative weight) at which the return is reached
  double value = 0.0;
};

// How far from the middle the central pair may lie: 64 outputs, 0.2% of the draws.
constexpr std::size_t kCentralReach = 64;

// The first of the two neighbouring targets nearest the middle that lie closest together.
std::size_t centralPair(const std::vector<double>& targets) {
  const std::size_t middle = targets.size() / 2 - 1;
  std::size_t best = middle;
  for (std::size_t step = 1; step <= kCentralReach; ++step) {
    for (const std::size_t j : {middle - step, middle + step}) {
      if (targets[j + 1] - targets[j] < targets[best + 1] - targets[best]) best = j;
    }
  }
  return best;
}

// Knots for y[k], the target at draw k + 1, such that a straight line between neighbouring
// knots passes within `tolerance` of every target. From each knot the next is the farthest
// target whose chord stays inside: the slopes that keep the targets passed so far inside form
// a window, and the scan stops when it closes. When the window stays open to the last target,
// the last knot lies at the total weight.
std::vector<Knot> tubeKnots(const std::vector<double>& y, double tolerance) {
  const std::size_t count = y.size();
  std::vector<Knot> knots{{1, y[0]}};
  std::size_t a = 0;
  for (;;) {
    double low = -std::numeric_limits<double>::infinity();
    double high = std::numeric_limits<double>::infinity();
    std::size_t farthest = a + 1;
    bool closed = false;
    for (std::size_t b = a + 1; b < count; ++b) {
      const auto run = static_cast<double>(b - a);
      const double slope = (y[b] - y[a]) / run;
      if (low <= slope && slope <= high) farthest = b;
      low = std::max(low, (y[b] - tolerance - y[a]) / run);
      high = std::min(high, (y[b] + tolerance - y[a]) / run);
      if (low > high) {
        closed = true;
        break;
      }
    }
    if (!closed) {
      double slope = 0.0;
      if (a + 1 < count) {
        slope = std::clamp((y[count - 1] - y[a]) / static_cast<double>(count - 1 - a), low, high);
      }
      const auto run = static_cast<double>(kTableTotalWeight) - static_cast<double>(a + 1);
      knots.push_back({kTableTotalWeight, y[a] + slope * run});
      return knots;
    }
    knots.push_back({static_cast<std::int32_t>(farthest + 1), y[farthest]});
    a = farthest;
  }
}

// Replaces the knots' returns by those that bring the draws closest to the targets in the
// least-squares sense, the knots' places kept: a tridiagonal system over the knots. Each target
// y[k] (at draw k + 1) pulls on the two knots around it in the shares of the straight line
// between them; `topPulls` are targets of outputs that draw the last knot's return exactly.
// As constant returns are among the choices, the draws keep the targets' mean. Where the
// solution falls from one knot to the next (it overshoots beside a jump), neighbouring knots
// are pooled to their mean weighted by the draws each one carries, which keeps the draws' mean.
void leastSquaresReturns(std::vector<Knot>& knots, const std::vector<double>& y,
                         const std::vector<double>& topPulls) {
  const std::size_t m = knots.size();
  std::vector<double> carried(m, 0.0);  // the share of draws that each knot's return makes
  std::vector<double> diagonal(m, 0.0);
  std::vector<double> beside(m, 0.0);  // beside[i]: the entry between knots i and i + 1
  std::vector<double> right(m, 0.0);
  std::size_t segment = 0;
  for (std::size_t k = 0; k < y.size(); ++k) {
    const auto at = static_cast<std::int32_t>(k + 1);
    while (knots[segment + 1].at <= at) ++segment;
    const double t = static_cast<double>(at - knots[segment].at) /
                     static_cast<double>(knots[segment + 1].at - knots[segment].at);
    carried[segment] += 1.0 - t;
    carried[segment + 1] += t;
    diagonal[segment] += (1.0 - t) * (1.0 - t);
    beside[segment] += (1.0 - t) * t;
    diagonal[segment + 1] += t * t;
    right[segment] += (1.0 - t) * y[k];
    right[segment + 1] += t * y[k];
  }
  for (const double pull : topPulls) {
    carried[m - 1] += 1.0;
    diagonal[m - 1] += 1.0;
    right[m - 1] += pull;
  }
  // A last knot that no draw reaches continues the one before it.
  if (diagonal[m - 1] == 0.0) {
    diagonal[m - 2] += 1.0;
    diagonal[m - 1] += 1.0;
    beside[m - 2] -= 1.0;
  }
  // Thomas's algorithm: the matrix is symmetric and positive definite.
  for (std::size_t i = 1; i < m; ++i) {
    const double factor = beside[i - 1] / diagonal[i - 1];
    diagonal[i] -= factor * beside[i - 1];
    right[i] -= factor * right[i - 1];
  }
  knots[m - 1].value = right[m - 1] / diagonal[m - 1];
  for (std::size_t i = m - 1; i-- > 0;) {
    knots[i].value = (right[i] - beside[i] * knots[i + 1].value) / diagonal[i];
  }

  // Pool adjacent violators: blocks of knots with one return each, merged while they fall.
  struct Block {
    double value;
    double weight;
    std::size_t count;
  };
  std::vector<Block> blocks;
  for (std::size_t i = 0; i < m; ++i) {
    blocks.push_back({knots[i].value, carried[i], 1});
    while (blocks.size() >= 2 && blocks[blocks.size() - 2].value > blocks.back().value) {
      const Block upper = blocks.back();
      blocks.pop_back();
      Block& lower = blocks.back();
      const double weight = lower.weight + upper.weight;
      lower.value = weight > 0.0
                        ? (lower.value * lower.weight + upper.value * upper.weight) / weight
                        : lower.value;
      lower.weight = weight;
      lower.count += upper.count;
    }
  }
  std::size_t i = 0;
  for (const Block& block : blocks) {
    for (std::size_t k = 0; k < block.count; ++k) knots[i++].value = block.value;
  }
}

}  // namespace

TableFit fitTable(const std::vector<double>& targets, double tolerance, int maxRows) {
  const std::size_t pair = centralPair(targets);
  const double central = targets[pair] == targets[pair + 1]
                             ? targets[pair]
                             : targets[pair] + (targets[pair + 1] - targets[pair]) / 2.0;
  std::vector<double> knotTargets(targets.begin(), targets.begin() + static_cast<std::ptrdiff_t>(pair));
  knotTargets.insert(knotTargets.end(), targets.begin() + static_cast<std::ptrdiff_t>(pair + 2),
                     targets.end());

  const bool centralRow = maxRows >= 3;
  const std::size_t knotLimit = centralRow ? static_cast<std::size_t>(maxRows - 1) : 2;
  TableFit fit;
  fit.tolerance = tolerance;
  std::vector<Knot> knots = tubeKnots(knotTargets, tolerance);
  if (knots.size() > knotLimit) {
    // A tube as wide as the targets' range holds them all on one line: two knots.
    double narrow = tolerance;
    double wide = std::max(tolerance, 2.0 * (knotTargets.back() - knotTargets.front()));
    knots = tubeKnots(knotTargets, wide);
    for (int step = 0; step < 60; ++step) {
      const double middle = narrow + (wide - narrow) / 2.0;
      std::vector<Knot> tried = tubeKnots(knotTargets, middle);
      if (tried.size() <= knotLimit) {
        wide = middle;
        knots = std::move(tried);
      } else {
        narrow = middle;
      }
    }
    fit.tolerance = wide;
    leastSquaresReturns(knots, knotTargets,
                        centralRow ? std::vector<double>{}
                                   : std::vector<double>{targets[pair], targets[pair + 1]});
  }

  std::int32_t previous = 0;
  for (const Knot& knot : knots) {
    fit.rows.push_back({knot.value, knot.at - previous});
    previous = knot.at;
  }
  if (centralRow) fit.rows.push_back({central, 0});
  return fit;
}

}  // namespace empricer
