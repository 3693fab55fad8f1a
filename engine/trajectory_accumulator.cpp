#include "engine/trajectory_accumulator.h"

#include <cmath>
#include <limits>

namespace empricer {

void TrajectoryAccumulator::addSpread(const double* price) {
  count_ += 1.0;
  for (int p = 0; p < kPathCount; ++p) {
    const bool above = price[p] > strike_;
    const double payoff[2] = {above ? price[p] - strike_ : 0.0, above ? 0.0 : strike_ - price[p]};
    for (int kind = 0; kind < 2; ++kind) {
      const double delta = payoff[kind] - mean_[kind][p];
      mean_[kind][p] += delta / count_;
      squares_[kind][p] += delta * (payoff[kind] - mean_[kind][p]);
    }
  }
}

StandardErrors TrajectoryAccumulator::standardErrors(double discount) const {
  StandardErrors errors;
  for (int kind = 0; kind < 2; ++kind) {
    double* out = kind == 0 ? errors.call : errors.put;
    for (int p = 0; p < kPathCount; ++p) {
      out[p] = count_ < 2.0 ? std::numeric_limits<double>::quiet_NaN()
                            : discount * std::sqrt(squares_[kind][p] / (count_ - 1.0)) /
                                  std::sqrt(count_);
    }
  }
  return errors;
}

}  // namespace empricer
