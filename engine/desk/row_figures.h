// The one place a row's figures are formed. Every source of a row's terminal law (a simulated
// group, the exact law, any other source of weighted terminal prices) hands over the same
// expectations: each path's payoffs at the end and a day before, the spread of the base path's
// terminal price, the desk sums, and, once the values are known, the weight beyond each
// threshold the probabilities need. The formulas, in the order of operations the results have
// always been computed in, are here and nowhere else.
//
// A simulation hands sums over its trajectories with their count as the total weight; a law
// hands expectations with a total weight of 1, which the formulas multiply in exactly (1 / 1
// is 1, and 1 x d is d), so a law's figures are the formulas' limits.
#pragma once

#include <limits>

#include "engine/desk/desk_figures.h"
#include "engine/valuation/records.h"
#include "engine/valuation/row_pricer.h"

namespace empricer {

constexpr double kNoVega = std::numeric_limits<double>::quiet_NaN();
static_assert(kPathCount == 5);

// A market's prices of a row's call and put (NaN for none): a buyer at these prices profits
// when the terminal price ends above K + call (below K - put).
struct MarketQuote {
  double call = std::numeric_limits<double>::quiet_NaN();
  double put = std::numeric_limits<double>::quiet_NaN();
  bool any() const { return call == call || put == put; }
};

// Which figures a valuation works out beside the values.
struct FigureChoice {
  bool standardErrors = false;
  bool desk = false;
  double tradingDays = 252.0;  // for the desk figures' yearly volatility
  bool vega = false;           // a law's vega (valuers without one leave it NaN)
};

// What a source knows of a row's terminal law before its values are formed.
struct RowExpectations {
  double total = 0.0;       // the total weight: a simulation's trajectories, 1 for a law
  PayoffSums payoffs{};     // each path's call and put payoffs, at the end and a day before
  double variance = 0.0;    // of the base path's terminal price (a sample's, for a simulation)
  DeskSums desk{};          // with the desk figures
  bool gammaDefined = false;
  double bump = 0.0;        // the gamma's relative bump
};

// Everything a row gives.
struct RowFigures {
  ValuationResult result;
  StandardErrors errors;  // a sample's, when asked for
  DeskFigures desk;       // when asked for
  // The base path's probabilities of profit at the row's quote: P(S_T > K + quote call) and
  // P(S_T < K - quote put); NaN without a quote.
  double profitCall = std::numeric_limits<double>::quiet_NaN();
  double profitPut = std::numeric_limits<double>::quiet_NaN();
  // How far the figures may be from their limits, as the largest ratio of an error estimate to
  // its bound (0 for a simulation, whose error is its standard errors; NaN: not known), and the
  // figure it is of (-1: none; see exactFigureName).
  double errorRatio = 0.0;
  int errorFigure = -1;
  // The first of a law's figures beyond the largest double (see exactFigureName), or -1.
  int unformedFigure = -1;
  // Each path's call value with the table's annualised volatility half a point up less the
  // same half a point down (engine/rows/exact_rows.h); NaN where there is none.
  double vega[kPathCount] = {kNoVega, kNoVega, kNoVega, kNoVega, kNoVega};
};

// The sample variance of the base path's terminal prices from their sums over `total`
// trajectories: (n x sum of squares - sum^2) / n / (n - 1).
double sampleVariance(const PayoffSums& sums, double total);

// Positions 1 to 11 and 22 to 31 of the result (the values, the spread, the thetas) and, when
// chosen, the desk figures. The probabilities stay 0 until formWins.
RowFigures formValues(const ValuationRequest& request, const RowExpectations& expectations,
                      const FigureChoice& choice);

// The thresholds of `figures`' values and of `quote`.
WinThresholds winThresholds(const ValuationRequest& request, const ValuationResult& result,
                            const MarketQuote& quote);

// Positions 12 to 21 (with the request's probabilities on) and the probabilities of profit (with
// a quote), each the weight beyond its threshold over `total`.
void formWins(const ValuationRequest& request, const MarketQuote& quote, const WinMasses& masses,
              double total, RowFigures& figures);

// Whether a row needs the weights beyond the thresholds: for the winning probabilities, or for
// the probabilities of profit at a quote.
inline bool wantsWins(const ValuationRequest& request, const MarketQuote& quote) {
  return request.withProbabilities || quote.any();
}

}  // namespace empricer
