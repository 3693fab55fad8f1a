// The canonical table: the history's table with its returns kept and its weights tilted by
// exp(theta x return), theta chosen so that the mean drawn over the generator's outputs is a
// given mean per step (the risk-neutral one). The tilted weights are not whole numbers, so they
// are written on a grid fine enough to keep the tilt (kTiltWeightGrid).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "builder/moments.h"
#include "builder/table_fit.h"
#include "builder/table_text.h"
#include "engine/table/return_table.h"
#include "text/status.h"

namespace empricer {

// The tilted weights are multiples of 2^-32: every running sum of them up to the total of 32768
// is then exact in a double, in any order, so the table's total is 32768 exactly and every
// output draws as in a table of whole weights. Near a weight of 1 (the least of the history's
// table) that is a relative precision of 2.3e-10.
constexpr double kTiltWeightGrid = 0x1p-32;

// The shape of a tilt beside theta x return: the log of a row's weight ratio is
// theta x r + curvature x r^2 + down x min(z, 0)^2 + up x max(z, 0)^2
// + tail x max(|z| - 2, 0)^2, with z = (r - centre) / scale.
struct TiltShape {
  double curvature = 0.0;
  double down = 0.0;
  double up = 0.0;
  double tail = 0.0;
  double centre = 0.0;
  double scale = 1.0;
  double logOf(double r) const;
};

struct CanonicalTable {
  std::vector<TiltedRow> rows;
  double theta = 0.0;
  TiltShape shape;               // the tilt beside theta's
  double drawnMean = 0.0;        // over the 32768 outputs, as the valuation draws the text
  double drawnDeviation = 0.0;   // the same outputs' standard deviation
  double relativeEntropy = 0.0;  // sum q log(q / p) of the weights over their totals
  double effectiveSize = 0.0;    // 1 / sum q^2
  double historySize = 0.0;      // 1 / sum p^2 of the history's table
  int iterations = 0;            // drawn means taken to bracket and solve theta
};

// Row 0 keeps its weight (1): it holds the one draw below the first knot, which takes the last
// row's return, and so no share of the returns. Every other row's weight w becomes proportional
// to w x exp(theta x return), rounded to kTiltWeightGrid (never below one grid step), the rows
// after the first summing to what they summed to before (the largest takes the rounding's
// remainder). theta solves drawn mean = `mean`: the drawn mean rises with theta (tilting up
// moves every cumulative weight down, so every output draws higher), and a bracket found by
// doubling is narrowed by regula falsi (Illinois) with bisection as the safeguard. Fails, saying
// why, when `mean` lies outside the means that a tilt can draw, which lie inside the returns'
// range. `name` names the table in the messages.
// With a `shape`, the tilt is exp(theta x return + the shape's log), theta solved as above.
Outcome<CanonicalTable> canonicalTable(const std::vector<DistRow>& history, double mean,
                                       const std::string& name, const TiltShape& shape = {});

// The canonical table of `mean` whose drawn standard deviation per step is also `deviation`:
// the shape's curvature c solved (the drawn deviation rises with c) by a bracket found by doubling and
// narrowed as theta is, theta solved again for every c. Fails, saying why, when no curvature
// short of the one that leaves all the weight on the extreme returns draws `deviation`.
Outcome<CanonicalTable> volatilityTable(const std::vector<DistRow>& history, double mean,
                                        double deviation, const std::string& name);

// The moments of `returns` weighted by exp(theta x return + the shape's log) (the population
// form, as momentsOf): the target that a canonical table follows.
Moments tiltedMoments(const std::vector<double>& returns, double theta,
                      const TiltShape& shape = {});

// 1 / sum q^2 of `returns` weighted by q proportional to the same: how many of the history's
// returns, equally likely, the tilted history is worth.
double tiltedEffectiveSize(const std::vector<double>& returns, double theta,
                           const TiltShape& shape = {});

}  // namespace empricer
