// The measure closest in relative entropy to a weighted set of prices that meets one expiry's
// forward and puts each of its quoted options' prices inside their bid/ask: the weight of a
// price x (in units of S0) is c(x) exp(mu x + sum_j lambda_j d_j payoff_j(x)), with one
// multiplier per quote. The multipliers maximise the concave dual
//   D = mu F + sum_j (lambda_j >= 0 ? lambda_j bid_j : lambda_j ask_j) - log sum c e^(...),
// whose gradient is the target less the model's price, so at the optimum a quote with a
// positive multiplier sits on its bid, a negative one on its ask, and one with none inside.
#pragma once

#include <cstddef>
#include <vector>

namespace empricer {

// One quoted price of the expiry, in units of S0: an option struck at `strike`, discounted by
// `discount`; a one-sided quote has the other side infinite (bid -inf or ask +inf).
struct PeriodPrice {
  bool call = true;
  double strike = 0.0;
  double discount = 1.0;
  double bid = 0.0;
  double ask = 0.0;
};

// The discounted payoff of `price` at x.
double periodPayoff(const PeriodPrice& price, double x);

struct PeriodTargets {
  double forward = 1.0;  // E[x] sought
  std::vector<PeriodPrice> prices;
};

struct PeriodFit {
  double mu = 0.0;
  std::vector<double> lambda;  // by price
  int iterations = 0;
  // The largest distance of a price from where the fit wants it (and of the forward from its
  // target) when the fit began, in units of S0: how far the start was from the fit.
  double startResidual = 0.0;
  // Whether the forward is met within kPeriodTolerance and every price within its bid/ask (to
  // the same tolerance).
  bool met = false;
};

// Prices are met within this (in units of S0).
constexpr double kPeriodTolerance = 1e-11;

// The tilt mu x + sum_j lambda_j d_j payoff_j(x) is a broken line in x: between neighbouring
// strikes, intercept + slope x. Segment i holds the x above i of the strikes (ascending) and
// not above the next; its intercept and slope are summed as the line is drawn: from mu and
// the puts' lines (in the prices' order), then each strike's hinge in ascending order.
struct TiltLine {
  std::vector<double> strikes;    // ascending
  std::vector<double> intercept;  // by segment, one more than the strikes
  std::vector<double> slope;
};
// `lambda` by price.
TiltLine tiltLine(const PeriodTargets& targets, double mu, const double* lambda);
TiltLine tiltLine(const PeriodTargets& targets, const PeriodFit& fit);
// The tilt at x on segment `segment` (the number of strikes below x).
inline double tiltOnSegment(const TiltLine& line, std::size_t segment, double x) {
  return line.intercept[segment] + line.slope[segment] * x;
}
double tiltAt(const TiltLine& line, double x);
// The tilts at points in ascending order, walked along the line.
std::vector<double> tiltsAlong(const TiltLine& line, const std::vector<double>& ascending);

// log of the weight's tilt at x: tiltAt of the fit's line.
double periodTilt(const PeriodTargets& targets, const PeriodFit& fit, double x);

// Solves from `start` (its multipliers, sized as the prices, or empty for 0) on the points x_i
// of weights c_i (not all 0). Newton's method on the dual with the multipliers whose prices
// bind, a backtracking line search, and each multiplier held at 0 once its step would cross it.
PeriodFit fitPeriod(const std::vector<double>& x, const std::vector<double>& weight,
                    const PeriodTargets& targets, PeriodFit start = {});
// The same on points already in ascending order, given by the logs of their weights (-inf for
// none): a caller that fits one set of points many times sorts them once.
PeriodFit fitPeriodSorted(const std::vector<double>& x, const std::vector<double>& logWeight,
                          const PeriodTargets& targets, PeriodFit start = {});

// Sweeps over several expiries, each fitted with the others held, converge slowly where they
// lean on each other: a sweep may begin from the mix sum_i a_i outcome_i (sum a_i = 1) of the
// last kMixedSweeps sweeps' outcomes whose residuals (outcome less start) mix least in size
// (Anderson's mixing); empty when there is no such mix.
constexpr std::size_t kMixedSweeps = 5;
std::vector<double> andersonMix(const std::vector<std::vector<double>>& outcomes,
                                const std::vector<std::vector<double>>& residuals);
// Whether each of `mix`'s numbers has the sign (or the 0) of `outcome`'s: a mixed multiplier
// may not cross its kink.
bool sameSigns(const std::vector<double>& mix, const std::vector<double>& outcome);

// The multipliers of several expiries' fits as one list: each fit's mu, then its lambdas. A mu
// of -0 is listed as 0 when `unsignedZero` says so.
std::vector<double> flatFits(const std::vector<PeriodFit>& fits, bool unsignedZero = false);
// The fits' multipliers set from such a list.
void setFlatFits(const std::vector<double>& flat, std::vector<PeriodFit>& fits);

// The last kMixedSweeps sweeps' outcomes and residuals, from which each sweep's start is mixed.
class SweepMix {
 public:
  // Adds the sweep that began at `start` and ended at `outcome` (both flat), and gives the mix
  // the next sweep begins from: empty when there is none or it would change a sign of `outcome`.
  std::vector<double> next(const std::vector<double>& start, const std::vector<double>& outcome);

 private:
  std::vector<std::vector<double>> outcomes_;
  std::vector<std::vector<double>> residuals_;
};

}  // namespace empricer
