// The calibrated measure of one S0 on the exact law's lattice. X_e = S0 e^(Y_e) is the base
// path's price after each quoted expiry e; the measure Q has
//   dQ/dP = prod_e h_e(X_e) / Z,   log h_e(x) = mu_e x / S0 + sum_j lambda_j d_e payoff_j(x) / S0,
// the sum over the quotes of expiry e (engine/period_fit.h), and the multipliers are those of
// the measure closest to P in relative entropy that meets each expiry's forward E_P[X_e] and
// puts every quoted price inside its bid/ask.
//
// The days are independent, so Y on the lattice is a chain: the law after e days is the law
// after the expiry before convolved with the sum of the days between. A forward pass carries
//   A_e = (A_{e-1} * T_{e - e'}) h_e   (A_0 the point 0),
// a backward pass
//   B_e(y) = sum_y' T_{e'' - e}(y' - y) h_{e''}(y') B_{e''}(y')   (B_last = 1),
// each a convolution of lattice masses by Fourier transform, and Q's law of Y_e is A_e B_e / Z.
// The multipliers of one expiry, with the others held, are a one-period fit on the law of Y_e
// without h_e (its cavity, (A_{e'} * T) B_e): sweeps of such fits raise the concave dual at
// every step and end when every expiry is met with no fit left to do.
//
// A shifted path is valued under the same functions applied to its own path scaled back to
// S0, h_e(X^k_e / shift_k): its chain is its own day law's, with the same h.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <complex>
#include <vector>

#include "engine/exact/exact_law.h"
#include "engine/valuation/work_watch.h"
#include "engine/exact/fourier.h"
#include "engine/exact/period_fit.h"

namespace empricer {

// One expiry's quotes, in units of S0.
struct ExpiryQuotes {
  std::int32_t days = 0;
  double discount = 1.0;
  std::vector<PeriodPrice> prices;
  std::vector<std::size_t> quotes;  // each price's index among the S0's quotes
};

// An expiry's quotes as bands on calls alone, one a strike: with the forward met exactly, a
// put's price is the call's less d (F - K), so its band moves onto the call's, and the two
// intersect. `parityAt` names the first strike whose call and put bands do not meet (-1:
// none): their parity contradicts the forward F.
struct StrikeBands {
  PeriodTargets targets;    // the forward and one call band a strike
  std::vector<std::size_t> bandOf;  // by price of the expiry, its strike's band
  std::ptrdiff_t parityAt = -1;     // a price of the expiry
};
// How far (units of S0) a strike's call and put bands may miss each other and still be met, at
// their middle: a lattice's forward is off the exact one by about this much at most.
constexpr double kParitySlack = 1e-4;
StrikeBands strikeBands(const ExpiryQuotes& expiry, double forward,
                        double slack = kParitySlack);

// Masses on the lattice points y = k x spacing, k from `first` on.
struct LatticeMasses {
  std::int64_t first = 0;
  std::vector<double> mass;
};

class LatticeMeasure {
 public:
  // On the lattices of `base` and `shifted` (one spacing, an even number of intervals), for
  // expiries in ascending days (at least 1 each).
  LatticeMeasure(const DayLaw& base, const DayLaw& shifted, std::vector<ExpiryQuotes> expiries);
  LatticeMeasure(const LatticeMeasure&) = delete;
  LatticeMeasure& operator=(const LatticeMeasure&) = delete;

  // Multipliers to start from (those of a coarser lattice), expiry by expiry.
  void startFrom(const std::vector<PeriodFit>& fits) { start_ = fits; }
  // Solves for the multipliers; whether every expiry was met. `watch` is asked before each
  // sweep; a measure it stopped is not to be used.
  bool calibrate(const WorkWatch& watch = {});

  // Q's law of the path's log ratio after `days` (>= 1), as the exact law reads it.
  TerminalLaw marginal(PathKind kind, int days);

  const std::vector<ExpiryQuotes>& expiries() const { return expiries_; }
  // Each expiry's bands and their multipliers (valid once calibrated).
  const std::vector<StrikeBands>& bands() const { return bands_; }
  const std::vector<PeriodFit>& fits() const { return fits_; }
  // E_P[X_e] / S0 of each expiry, the forward the fit keeps.
  const std::vector<double>& forwards() const { return forwards_; }
  // Each expiry's quoted prices under Q (units of S0), in the order of its prices.
  std::vector<std::vector<double>> modelPrices();
  // KL(Q || P).
  double relativeEntropy();
  int sweeps() const { return sweeps_; }
  bool met() const { return met_; }

 private:
  // Spectra by (input, transform length).
  using SpectraBySize =
      std::map<std::pair<std::size_t, std::size_t>, std::vector<std::complex<double>>>;
  struct Chain {
    std::vector<LatticeMasses> cavity;  // A_{e'} * T, by expiry
    std::vector<LatticeMasses> ahead;   // A_e (normalised), by expiry
    std::vector<double> logScale;       // log of what A_e was divided by
    std::vector<LatticeMasses> behind;  // B_e on the cavity's points (scaled), by expiry
    bool backward = false;
    // Once the passes are done, for the days between expiries: h_e B_e (scaled) by expiry, and
    // the spectra of A_e and of h_e B_e by expiry and transform length.
    std::map<std::size_t, LatticeMasses> tilted;
    SpectraBySize aheadSpectra;
    SpectraBySize tiltedSpectra;
  };
  const LatticeMasses& daysOf(PathKind kind, int days);
  // a * T_days (forward), or T_days carried back over a (backward), by Fourier transform with
  // T's spectrum kept for each length.
  // With `spectra` and `input`, a's spectrum is kept there under (input, length) and taken
  // from there the next time.
  LatticeMasses convolveDays(const LatticeMasses& a, PathKind kind, int days, bool backward,
                             SpectraBySize* spectra = nullptr, std::size_t input = 0);
  const RealFourierTransform& fourierOf(std::size_t size);
  // With `fit` (and the backward pass's B from before), each expiry's multipliers are fitted
  // on its cavity as the pass reaches it, as the backward pass does.
  void forwardPass(PathKind kind, Chain& chain, bool fit, bool& allMet);
  // Fits expiry e's multipliers on the cavity times B (held flat beyond B's points).
  void fitExpiry(std::size_t e, const LatticeMasses& cavity, const LatticeMasses& behind,
                 bool& allMet);
  // h_e B_e (expiry e's tilt on its cavity times B_e, `behind`) carried back `days` days, up
  // to a factor.
  LatticeMasses carriedBack(std::size_t e, PathKind kind, const LatticeMasses& cavity,
                            const LatticeMasses& behind, int days);
  // h_e B_e on e's cavity, scaled, before it is carried back.
  LatticeMasses tiltedBehind(std::size_t e, const LatticeMasses& cavity,
                             const LatticeMasses& behind) const;
  // With `fit`, each expiry's multipliers are fitted on its cavity as the pass reaches it.
  void backwardPass(PathKind kind, Chain& chain, bool fit, bool& allMet);
  Chain& chainOf(PathKind kind);
  std::vector<double> tiltOn(std::size_t e, const LatticeMasses& at) const;

  const DayLaw& base_;
  const DayLaw& shifted_;
  std::vector<ExpiryQuotes> expiries_;
  std::vector<StrikeBands> bands_;
  std::vector<PeriodFit> fits_;
  std::vector<PeriodFit> start_;
  std::vector<double> forwards_;
  // The base and the shifted paths' laws are asked for from two threads: each kind's chains,
  // sums of days and spectra are held by the kind's lock (taken by the public calls), the
  // transforms by their own.
  std::recursive_mutex kindMutex_[2];
  std::map<std::pair<int, int>, LatticeMasses> sums_[2];
  std::map<std::tuple<int, int, std::size_t, bool>, std::vector<std::complex<double>>> spectra_[2];
  struct Scratch {
    std::vector<std::complex<double>> spectrum;
    std::vector<std::complex<double>> sum;
    std::vector<std::complex<double>> work;
    std::vector<double> cyclic;
  };
  Scratch scratch_[2];  // by kind, under its lock
  std::mutex transformsMutex_;
  std::map<std::size_t, std::unique_ptr<RealFourierTransform>> transforms_;
  FourierTransforms sumTransforms_;  // the sums of days' (daysOf)
  std::unique_ptr<Chain> chains_[2];
  int sweeps_ = 0;
  bool met_ = false;
};

}  // namespace empricer
