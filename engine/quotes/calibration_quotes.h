// The quotes a run calibrates its measure to (--calibrate FILE, read by the quote book): each
// quoted price with its line, the prices of one S0 as the lattice measure takes them, and the
// tests that refuse a calibration before anything is valued.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/table/draw_table.h"
#include "engine/exact/exact_valuation.h"
#include "engine/exact/lattice_measure.h"
#include "engine/quotes/quote_book.h"
#include "engine/valuation/records.h"
#include "engine/exact/sample_measure.h"
#include "text/status.h"

namespace empricer {

// One quoted price: a call or a put of S0, K and days, with its bid and ask (a single price is
// both), and the line of the quotes file that gave it.
struct QuotedPrice {
  std::int64_t line = 0;
  double spot = 0.0;
  double strike = 0.0;
  std::int32_t days = 0;
  bool call = true;
  double bid = 0.0;
  double ask = 0.0;
};

// Arbitrage between the prices of one S0, days and side, in the order of their strikes: a
// bid above the ask of a cheaper strike (a call's lower, a put's higher), or a butterfly that
// pays to hold. Refused with `kind` at the line ("FILE: line N: ...").
Status arbitrageOf(const std::vector<const QuotedPrice*>& chain, const std::string& name,
                   FailureKind kind = FailureKind::refused);

// The quoted prices by S0, from the quotes held (their keys' order). Refused (FailureKind
// refused, "FILE: line N: ...") at the first line whose days are not a whole number from 1 to
// kExactMostDays, whose S0 or K is not above 0, or whose prices make an arbitrage with another
// line of the same S0, days and side: a call (put) that bids above the ask of one at a lower
// (higher) strike, or a middle strike that bids above its wings' asks joined by a line.
Outcome<std::map<double, std::vector<QuotedPrice>>> calibrationPrices(
    const std::vector<HeldQuote>& held, const std::string& name);

// One S0's prices as the lattice measure's expiries, in units of S0, each expiry's discount
// the one a row of its days takes under `common` (rate and step fraction).
std::vector<ExpiryQuotes> expiriesOf(const std::vector<QuotedPrice>& prices,
                                     const ValuationRequest& common);

// The table's forward E_P[X_e] / S0 at each expiry, on the exact law's coarsest lattice.
std::vector<double> tableForwards(const DrawTable& draws, const ExactSetup& setup,
                                  const std::vector<ExpiryQuotes>& expiries);

// The share of the law of X_e below which a node is out of the paths' reach: a measure that
// met a price only on such nodes would rest on paths the table all but never draws.
constexpr double kReachedMass = 1e-12;

// A quoted price (its index among the S0's) that no measure on the model's paths meets, and
// why, "NAME: line N: ...".
struct UnreachedPrice {
  std::size_t price = 0;
  std::string message;
};
// Every such price of one S0 on the lattice law `day` (in the order of the expiries): a bid
// above the most the paths can pay with the forward kept, an ask below the least (the
// discounted payoff on the forward), a strike whose call and put imply a forward other than the
// table's beyond their spreads, and the first strike of an expiry whose bid no law meets
// together with the expiry's asks (the lower convex hull of the asks, with the reach's ends).
// With `forwards`, the law's forward at each expiry (units of S0) goes there, as tableForwards
// gives it.
std::vector<UnreachedPrice> unreachedPrices(const DayLaw& day, double spot,
                                            const std::vector<QuotedPrice>& prices,
                                            const std::vector<ExpiryQuotes>& expiries,
                                            const std::string& name,
                                            std::vector<double>* forwards = nullptr);

// Whether the quotes of one S0 can be met by a measure on the model's paths, on the exact
// law's coarsest lattice for `draws` (with the setup's growth and steps a day): fails
// (FailureKind cannotCompute) naming the first price no such measure reaches (a bid above the
// most the paths can pay with the forward kept, an ask below the least: the discounted payoff
// on the forward) and the first strike whose call and put imply a forward other than the
// table's beyond their spreads.
Status calibrationReach(const DrawTable& draws, const ExactSetup& setup, double spot,
                        const std::vector<QuotedPrice>& prices,
                        const std::vector<ExpiryQuotes>& expiries, const std::string& name,
                        std::vector<double>* forwards = nullptr);

// A calibration's outcome for one S0, for the report: each quoted price with its model price
// (currency units), and the measure's figures, from the three coarsest lattices extrapolated as
// a row's figures are.
struct SpotCalibration {
  double spot = 0.0;
  std::vector<QuotedPrice> prices;
  std::vector<double> model;
  std::vector<double> multiplier;  // of each price's strike band, per unit of discounted payoff
  std::vector<std::int32_t> expiryDays;
  std::vector<double> forward;     // E_P[X_e] = E_Q[X_e], by expiry (currency units)
  std::vector<double> mu;          // by expiry, per unit of price
  double relativeEntropy = 0.0;
  // The effective share of the paths: (sum w)^2 / sum w^2 over the trajectories' count for a
  // simulation; exp(-KL), its lattice equivalent, for the exact law.
  double effectiveShare = 0.0;
  int sweeps = 0;                  // on the finest of the three lattices
  bool met = false;
  bool sampled = false;            // on simulated paths (--chain)
};

// The outcome of `model`, calibrated to `expiries` (expiriesOf `prices`, one S0's); not to be
// used once `watch` stopped it.
SpotCalibration spotCalibration(ExactModel& model, double spot,
                                const std::vector<QuotedPrice>& prices,
                                const std::vector<ExpiryQuotes>& expiries,
                                const WorkWatch& watch = {});

// The outcome of a measure calibrated on simulated paths (engine/sample_measure.h).
SpotCalibration sampleCalibration(const SampleMeasure& measure, double spot,
                                  const std::vector<QuotedPrice>& prices,
                                  const std::vector<ExpiryQuotes>& expiries);

// Fails (FailureKind cannotCompute) when `calibration` left a price outside its bid/ask, or
// gave no number for one, naming the price furthest outside: its quotes are not met together
// by any measure the fit could find on the model's paths (`name`: the quotes file).
Status calibrationMet(const SpotCalibration& calibration, const std::string& name);

// The calibrations of a run, in the order their S0s were first valued.
struct CalibrationLog {
  std::vector<SpotCalibration> spots;
};

}  // namespace empricer
