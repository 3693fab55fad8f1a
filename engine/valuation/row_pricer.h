// A row's figures from its terminal distribution: for each of the five paths, the prices it
// ends at and the prices one day before, each with a weight. A simulation feeds it one
// trajectory after another, weight 1 each, in trajectory order; any other source of weighted
// prices feeds it the same way. From these it adds up each path's call and put payoffs at the
// end and a day before, the base path's terminal prices and their squares, and (when asked
// for) the weighted running means and squared deviations of the payoffs by Welford's method
// for the standard errors, the desk sums, and the winning probabilities.
//
// Floating-point addition is not associative: the same sums come out only when the prices
// come in their order, one at a time. So a pricer is never merged with another; whoever
// simulates ahead hands the prices over, and one pricer per row takes them in order. A weight
// of 1 is never multiplied in, so unit weights give the bytes of plain sums.
#pragma once

#include <limits>

#include "engine/valuation/constants.h"
#include "engine/valuation/records.h"

namespace empricer {

struct PayoffSums {
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

// The thresholds of the winning probabilities (a terminal price wins for the call above
// strike + call value, for the put below strike - put value) and of the probabilities of
// profit at the quote (NaN: no quote of that side), from a row's values.
struct WinThresholds {
  double call[kPathCount];
  double put[kPathCount];
  double profitCall;  // base path
  double profitPut;
};

// The weight of the terminal prices beyond each threshold: above the call thresholds, below
// the put thresholds.
struct WinMasses {
  double call[kPathCount] = {};
  double put[kPathCount] = {};
  double profitCall = 0.0;
  double profitPut = 0.0;
};

// The payoff of an option struck at `strike` on a price: above the strike the call gets
// price - strike, otherwise the put gets strike - price.
struct Payoff {
  bool above;
  double call;
  double put;
};
inline Payoff payoffOf(double price, double strike) {
  return price > strike ? Payoff{true, price - strike, 0.0} : Payoff{false, 0.0, strike - price};
}

class RowPricer {
 public:
  explicit RowPricer(double strike, bool withStandardErrors = false)
      : strike_(strike), withStandardErrors_(withStandardErrors) {}

  // Also forms the desk sums, with the bump h.
  void addDeskSums(double bump) {
    withDesk_ = true;
    desk_ = DeskSums{};
    desk_.up = 1.0 + bump;
    desk_.down = 1.0 - bump;
  }

  // One trajectory, weight 1: its five terminal prices and, when its row has a day before the
  // last (days >= 2), the five prices then; both in path order.
  void add(const double* terminal, const double* dayBefore) {
    if (dayBefore != nullptr) {
      for (int p = 0; p < kPathCount; ++p) addDayBeforeOf<true>(p, dayBefore[p], 1.0);
    }
    for (int p = 0; p < kPathCount; ++p) addTerminalOf<true>(p, terminal[p], 1.0);
  }
  // One weighted price of the path at path-order index p.
  void addTerminal(int p, double price, double weight) { addTerminalOf<false>(p, price, weight); }
  void addDayBefore(int p, double price, double weight) {
    addDayBeforeOf<false>(p, price, weight);
  }

  const PayoffSums& sums() const { return sums_; }
  const DeskSums& deskSums() const { return desk_; }
  // The standard errors of the values discounted by `discount` (only with them switched on).
  StandardErrors standardErrors(double discount) const;

  // The weights beyond the thresholds of the winning probabilities and of the probabilities
  // of profit, once the row's values are known: feed the terminal prices again (as the caller
  // reads them), in any fixed order. NaN thresholds count nothing.
  void startWins(const WinThresholds& thresholds) {
    thresholds_ = thresholds;
    wins_ = WinMasses{};
  }
  void addWins(const double* terminal, double weight = 1.0) {
    for (int p = 0; p < kPathCount; ++p) addWin(p, terminal[p], weight);
  }
  void addWin(int p, double price, double weight) {
    if (price > thresholds_.call[p]) wins_.call[p] += weight;
    if (price < thresholds_.put[p]) wins_.put[p] += weight;
    if (p == kBasePath) {
      if (price > thresholds_.profitCall) wins_.profitCall += weight;
      if (price < thresholds_.profitPut) wins_.profitPut += weight;
    }
  }
  const WinMasses& wins() const { return wins_; }

 private:
  template <bool Unit>
  static double weighted(double weight, double x) {
    if constexpr (Unit) {
      return x;
    } else {
      return weight * x;
    }
  }
  // A payoff into the call sum or the put sum of its side.
  template <bool Unit>
  static void addPayoff(const Payoff& pay, double weight, double& call, double& put) {
    if (pay.above) {
      call += weighted<Unit>(weight, pay.call);
    } else {
      put += weighted<Unit>(weight, pay.put);
    }
  }
  template <bool Unit>
  void addDayBeforeOf(int p, double price, double weight) {
    addPayoff<Unit>(payoffOf(price, strike_), weight, sums_.dayBeforeCall[p],
                    sums_.dayBeforePut[p]);
  }
  template <bool Unit>
  void addTerminalOf(int p, double price, double weight) {
    const Payoff pay = payoffOf(price, strike_);
    addPayoff<Unit>(pay, weight, sums_.call[p], sums_.put[p]);
    if (p == kBasePath) {
      sums_.sumPrices += weighted<Unit>(weight, price);
      sums_.sumSquares += weighted<Unit>(weight, price) * price;
    }
    if (withStandardErrors_) addSpread<Unit>(p, pay, weight);
    if (withDesk_) addDesk<Unit>(p, price, weight);
  }
  // Welford's update with weights: the mean moves by weight x delta / total weight.
  template <bool Unit>
  void addSpread(int p, const Payoff& pay, double weight) {
    count_[p] += Unit ? 1.0 : weight;
    const double payoff[2] = {pay.call, pay.put};
    for (int kind = 0; kind < 2; ++kind) {
      const double delta = payoff[kind] - mean_[kind][p];
      mean_[kind][p] += weighted<Unit>(weight, delta) / count_[p];
      squares_[kind][p] += weighted<Unit>(weight, delta) * (payoff[kind] - mean_[kind][p]);
    }
  }
  template <bool Unit>
  void addDesk(int p, double s, double weight) {
    const double ws = weighted<Unit>(weight, s);
    desk_.terminal[p] += ws;
    if (s > strike_) desk_.above[p] += ws;
    if (desk_.up * s > strike_) desk_.aboveUp[p] += ws;
    if (desk_.down * s > strike_) desk_.aboveDown[p] += ws;
  }

  double strike_;
  bool withStandardErrors_;
  bool withDesk_ = false;
  DeskSums desk_{};
  PayoffSums sums_{};
  double count_[kPathCount] = {};
  double mean_[2][kPathCount] = {};
  double squares_[2][kPathCount] = {};
  WinThresholds thresholds_{};
  WinMasses wins_{};
};

}  // namespace empricer
