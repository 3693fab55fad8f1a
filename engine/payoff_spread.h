// Each path's call and put payoffs, trajectory by trajectory, as running means and sums of
// squared deviations (Welford's method: no cancellation, and the same bits for any number of
// threads, since the trajectories come in order), for the values' standard errors.
#pragma once

#include <cmath>
#include <limits>

#include "engine/constants.h"

// The Monte Carlo standard error of each path's call and put value, in path order: the sample
// standard deviation of the discounted payoffs divided by the square root of the number of
// trajectories; NaN with fewer than two trajectories.
struct StandardErrors {
  double call[kPathCount];
  double put[kPathCount];
};

class PayoffSpread {
 public:
  // One trajectory's terminal prices, paid out as collectPayoffs does.
  void add(const double* price, double strike) {
    double call[kPathCount];
    double put[kPathCount];
    for (int p = 0; p < kPathCount; ++p) {
      const bool above = price[p] > strike;
      call[p] = above ? price[p] - strike : 0.0;
      put[p] = above ? 0.0 : strike - price[p];
    }
    addPayoffs(call, put);
  }
  void addPayoffs(const double* call, const double* put) {
    count_ += 1.0;
    for (int p = 0; p < kPathCount; ++p) {
      addTo(0, p, call[p]);
      addTo(1, p, put[p]);
    }
  }
  // The standard errors of the values discounted by `d`.
  void finish(double d, StandardErrors& errors) const {
    for (int p = 0; p < kPathCount; ++p) {
      errors.call[p] = standardError(0, p, d);
      errors.put[p] = standardError(1, p, d);
    }
  }

 private:
  void addTo(int kind, int p, double x) {
    const double delta = x - mean_[kind][p];
    mean_[kind][p] += delta / count_;
    squares_[kind][p] += delta * (x - mean_[kind][p]);
  }
  double standardError(int kind, int p, double d) const {
    if (count_ < 2.0) return std::numeric_limits<double>::quiet_NaN();
    return d * std::sqrt(squares_[kind][p] / (count_ - 1.0)) / std::sqrt(count_);
  }
  double count_ = 0.0;
  double mean_[2][kPathCount] = {};
  double squares_[2][kPathCount] = {};
};
