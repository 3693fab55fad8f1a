// A fit to market quotes (empricer-dist --fit QUOTES): the history's table with its returns
// kept and its weights tilted as little as the quotes allow, a martingale exactly, so that the
// exact law's prices of the quoted options fall inside their bid/ask.
//
// The family: q = p x exp(theta x r + down x min(z, 0)^2 + up x max(z, 0)^2
// + tail x max(|z| - 2, 0)^2) / Z, with z = (r - m) / s over the history's table (m, s its
// weighted mean and standard deviation): down and up widen or narrow each side of the table,
// tail its tails beyond two standard deviations; theta is solved for every (down, up, tail) so
// that the drawn mean is the risk-neutral one (canonicalTable).
//
// The objective: sum over the quoted prices of (distance outside [bid + m, ask - m] / w)^2, w
// the half-spread and m a tenth of it (a price given alone is its own bid and ask, with
// w = 1e-4 x S0 and no margin), plus kFitPenalty x (1/2) lambda' C lambda, C the covariance
// of the three features under the history's weights (the relative entropy of the tilt to
// second order): it keeps the path from no tilt short, so that the table that meets the quotes
// is little tilted. Minimised by Levenberg-Marquardt with a forward-difference Jacobian, from
// no tilt, until the first step after which every price lies inside its bid/ask (1e-6 x S0
// from its ends, a quarter of the spread where that is less), or a step takes off less than a
// hundredth of the objective, or after kFitMostIterations steps; every price from the exact
// law.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "builder/canonical_tilt.h"
#include "builder/rate_settings.h"
#include "builder/table_fit.h"
#include "engine/quotes/calibration_quotes.h"
#include "engine/quotes/quote_book.h"
#include "text/status.h"

namespace empricer {

constexpr double kFitPenalty = 1e-2;
constexpr int kFitMostIterations = 40;

// One quoted price: a side of a quote line, and what the fit made of it.
struct FitTarget : QuotedPrice {
  double price = 0.0;         // the fitted table's
  double volResidual = 0.0;   // its annualised implied volatility less the mid's (NaN: none)
  bool inside() const;        // within [bid, ask], to 1e-9 x S0
  double residual() const;    // the price's distance outside [bid, ask], signed; 0 inside
};

// A quoted price that no measure on the paths of the history's table reaches (on the exact
// law's coarsest lattice, as empricer --calibrate tests it), left out of the fit, and why.
struct UnreachedTarget {
  FitTarget target;
  std::string reason;  // "QUOTES: line N: ..."
};

struct QuoteFit {
  CanonicalTable table;  // theta and the shape (down, up, tail)
  std::vector<FitTarget> targets;
  int iterations = 0;    // Levenberg-Marquardt steps taken
  int pricings = 0;      // tables priced
  double objective = 0.0;
  std::vector<UnreachedTarget> unreached;  // left out of the fit
};

// The quotes that a fit takes, one per side given; fails (badInput, naming `name` and the line)
// on a quote that no arbitrage-free table can meet: an ask below the discounted intrinsic
// value on the forward, d (F - K) for a call and d (K - F) for a put (F = S0 (1 + mean)^(T x
// days) on a day of T = `stepsPerDay` steps, d the settings' discount, less 1e-6 x S0), a call whose bid is above a lower strike's
// ask at the same S0 and days (a put: above a higher strike's), a butterfly of three strikes
// whose middle bid is above the wings' asks interpolated at its strike, and a days below 1 or
// above 2500. (The quotes' reader has refused a bid above its ask, a negative price, NaN, inf,
// a call above S0 and a put above K.)
Outcome<std::vector<FitTarget>> fitTargets(const std::vector<HeldQuote>& quotes, double mean,
                                           const RateSettings& rates, int stepsPerDay,
                                           const std::string& name);

// Takes out of `targets` (and returns, in their order) the prices that no table of the family
// can meet because no measure on the history's paths can: one such quote named, rather than a
// fit dragged from the rest. `quotesName` names the quotes file, `name` the table.
Outcome<std::vector<UnreachedTarget>> leaveOutUnreached(const std::vector<DistRow>& history,
                                                        double mean, const RateSettings& rates,
                                                        int stepsPerDay,
                                                        std::vector<FitTarget>& targets,
                                                        const std::string& quotesName,
                                                        const std::string& name);

// The fit of `history` (the --mean data table's rows) to `targets`, with the mean per step
// `mean`, the settings' rate and step fraction and a day of `stepsPerDay` steps;
// `tradingDays` annualises the volatilities.
Outcome<QuoteFit> fitQuotes(const std::vector<DistRow>& history, double mean,
                            const RateSettings& rates, int stepsPerDay,
                            std::vector<FitTarget> targets,
                            double tradingDays, const std::string& name);

}  // namespace empricer
