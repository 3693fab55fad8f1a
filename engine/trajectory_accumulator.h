// What a valuation adds up, one trajectory after another in trajectory order: each path's call
// and put payoffs at the end and one day before it, the base path's terminal prices and their
// squares, and (when asked for) the running means and squared deviations of the payoffs by
// Welford's method for the standard errors.
//
// Floating-point addition is not associative: the same sums come out only when the
// trajectories come in their order, one at a time. So an accumulator is never merged with
// another; whoever simulates ahead hands the prices over, and one accumulator per valuation
// takes them in order.
#pragma once

#include "engine/constants.h"

namespace empricer {

struct SimulationSums {
  double call[kPathCount];
  double put[kPathCount];
  double dayBeforeCall[kPathCount];
  double dayBeforePut[kPathCount];
  double sumPrices;   // base path's terminal prices
  double sumSquares;
};

// The Monte Carlo standard error of each path's call and put value, in path order: the sample
// standard deviation of the discounted payoffs divided by the square root of the number of
// trajectories; NaN with fewer than two trajectories.
struct StandardErrors {
  double call[kPathCount];
  double put[kPathCount];
};

// Each path's sums of its terminal prices S, of 1{S > K} S, and of 1{c S > K} S for the two
// bumped factors c = 1 + h and c = 1 - h: the forward, the pathwise deltas and the gamma.
struct DeskSums {
  double up;    // 1 + h
  double down;  // 1 - h
  double terminal[kPathCount];
  double above[kPathCount];
  double aboveUp[kPathCount];
  double aboveDown[kPathCount];
};

class TrajectoryAccumulator {
 public:
  explicit TrajectoryAccumulator(double strike, bool withSpread = false)
      : strike_(strike), withSpread_(withSpread) {}

  // Also forms the desk sums, with the bump h.
  void addDeskSums(double bump) {
    withDesk_ = true;
    desk_ = DeskSums{};
    desk_.up = 1.0 + bump;
    desk_.down = 1.0 - bump;
  }

  // One trajectory: its five terminal prices and, when its valuation has a day before the
  // last (days >= 2), the five prices then; both in path order. A price above the strike adds
  // price - strike to the path's call sum, any other strike - price to its put sum.
  void add(const double* terminal, const double* dayBefore) {
    if (dayBefore != nullptr) addPayoffs(dayBefore, sums_.dayBeforeCall, sums_.dayBeforePut);
    addPayoffs(terminal, sums_.call, sums_.put);
    sums_.sumPrices += terminal[kBasePath];
    sums_.sumSquares += terminal[kBasePath] * terminal[kBasePath];
    if (withSpread_) addSpread(terminal);
    if (withDesk_) addDesk(terminal);
  }

  const SimulationSums& sums() const { return sums_; }
  const DeskSums& deskSums() const { return desk_; }
  // The standard errors of the values discounted by `discount` (only with the spread on).
  StandardErrors standardErrors(double discount) const;

 private:
  void addPayoffs(const double* price, double* call, double* put) const {
    for (int p = 0; p < kPathCount; ++p) {
      if (price[p] > strike_) {
        call[p] += price[p] - strike_;
      } else {
        put[p] += strike_ - price[p];
      }
    }
  }
  void addSpread(const double* price);
  void addDesk(const double* price) {
    for (int p = 0; p < kPathCount; ++p) {
      const double s = price[p];
      desk_.terminal[p] += s;
      if (s > strike_) desk_.above[p] += s;
      if (desk_.up * s > strike_) desk_.aboveUp[p] += s;
      if (desk_.down * s > strike_) desk_.aboveDown[p] += s;
    }
  }

  double strike_;
  bool withSpread_;
  bool withDesk_ = false;
  DeskSums desk_{};
  SimulationSums sums_{};
  double count_ = 0.0;
  double mean_[2][kPathCount] = {};
  double squares_[2][kPathCount] = {};
};

}  // namespace empricer
