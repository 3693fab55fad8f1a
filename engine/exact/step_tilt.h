// A step's law tilted within one family: each of the draws' returns r weighted by
// exp(theta x r + curvature x r^2) before the weights are scaled to sum to 1. The curvature
// moves the spread, theta keeps the mean where it was. The exact figures' vega compares the
// values of two such laws: the table's volatility half a point up and half a point down.
#pragma once

#include <optional>
#include <vector>

namespace empricer {

struct StepTilt {
  double theta = 0.0;
  double curvature = 0.0;
  bool none() const { return theta == 0.0 && curvature == 0.0; }
  // theta x r + curvature x r^2: the log of r's weight, up to the scale.
  double logWeight(double r) const { return theta * r + curvature * r * r; }
};

// The mean and standard deviation (population form) of `returns`, each weighted by the tilt.
struct TiltedSpread {
  double mean = 0.0;
  double deviation = 0.0;
};
TiltedSpread tiltedSpread(const std::vector<double>& returns, const StepTilt& tilt);

// The tilt of `returns` (the draws' returns, each equally likely) whose mean is theirs and
// whose standard deviation is `deviation`, solved to a relative 1e-12. None when no tilt of the
// family draws it: `deviation` not above 0, the returns not all finite or all of one value,
// or `deviation` beyond what the family reaches before its weights leave the extreme returns
// (or the middle ones) alone.
std::optional<StepTilt> tiltToDeviation(const std::vector<double>& returns, double deviation);

}  // namespace empricer
