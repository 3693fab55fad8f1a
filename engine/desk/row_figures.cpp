#include "engine/desk/row_figures.h"

#include <cmath>
#include <limits>

#include "engine/desk/valuation_figures.h"

namespace empricer {

double sampleVariance(const PayoffSums& sums, double total) {
  const double n = total;
  return (n * sums.sumSquares - sums.sumPrices * sums.sumPrices) / n / (n - 1.0);
}

RowFigures formValues(const ValuationRequest& request, const RowExpectations& e,
                      const FigureChoice& choice) {
  RowFigures figures{};
  ValuationResult& result = figures.result;
  const PayoffSums& sums = e.payoffs;
  const double d = discountOf(request);
  const double q = 1.0 / e.total;

  result.callValue = q * d * sums.call[kBasePath];
  result.putValue = q * d * sums.put[kBasePath];
  for (int k = 0; k < 4; ++k) {
    result.shiftCall[k] = q * d * sums.call[kShiftedPathIndex[k]];
    result.shiftPut[k] = q * d * sums.put[kShiftedPathIndex[k]];
  }
  // The discount factor multiplies the variance inside the root, not the spread outside it:
  // the reported spread is sqrt(d) times the plain one, and must stay so.
  result.stdevS = std::pow(e.variance * d, 0.5);

  const double d1 = dayBeforeDiscountOf(request);
  for (int p = 0; p < kPathCount; ++p) {
    result.thetaCall[p] = callValueOfPath(result, p) - q * d1 * sums.dayBeforeCall[p];
    result.thetaPut[p] = putValueOfPath(result, p) - q * d1 * sums.dayBeforePut[p];
  }
  if (choice.desk) {
    figures.desk = deskFigures(request, result, e.desk, e.total, e.gammaDefined, e.bump,
                               choice.tradingDays);
  }
  return figures;
}

WinThresholds winThresholds(const ValuationRequest& request, const ValuationResult& result,
                            const MarketQuote& quote) {
  WinThresholds at{};
  for (int p = 0; p < kPathCount; ++p) {
    at.call[p] = request.strike + callValueOfPath(result, p);
    at.put[p] = request.strike - putValueOfPath(result, p);
  }
  at.profitCall = request.strike + quote.call;
  at.profitPut = request.strike - quote.put;
  return at;
}

void formWins(const ValuationRequest& request, const MarketQuote& quote, const WinMasses& masses,
              double total, RowFigures& figures) {
  const double q = 1.0 / total;
  if (request.withProbabilities) {
    for (int p = 0; p < kPathCount; ++p) {
      figures.result.probCall[p] = q * masses.call[p];
      figures.result.probPut[p] = q * masses.put[p];
    }
  }
  if (quote.any()) {
    // A threshold that is not a number (no quote of that side, or no strike) wins nothing.
    constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    const WinThresholds at = winThresholds(request, figures.result, quote);
    figures.profitCall = at.profitCall == at.profitCall ? q * masses.profitCall : kNone;
    figures.profitPut = at.profitPut == at.profitPut ? q * masses.profitPut : kNone;
  }
}

}  // namespace empricer
