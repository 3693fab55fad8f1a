#include "engine/desk/desk_figures.h"

#include <cmath>
#include <limits>

#include "engine/desk/implied_volatility.h"
#include "engine/desk/valuation_figures.h"

namespace empricer {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The total volatility of a discounted value: the out-of-the-money side's, NaN on or outside
// the no-arbitrage bounds (in discounted terms).
double impliedOfSide(double value, bool isCall, double forward, double strike, double d) {
  const double low = isCall ? d * std::fmax(forward - strike, 0.0) : d * std::fmax(strike - forward, 0.0);
  const double high = isCall ? d * forward : d * strike;
  if (!(value > low && value < high)) return kNaN;
  return empricer::impliedTotalVolatility(value / d, forward, strike, isCall);
}

double impliedFromValue(double call, double put, double forward, double strike, double d) {
  const bool isCall = strike >= forward;
  return impliedOfSide(isCall ? call : put, isCall, forward, strike, d);
}

}  // namespace

double yearlyVolatility(const ValuationRequest& request, double call, double put,
                        double forward, double tradingDays) {
  const double d = discountOf(request);
  const double s = request.days >= 1 ? impliedFromValue(call, put, forward, request.strike, d)
                                     : kNaN;
  return s / std::sqrt(static_cast<double>(request.days)) * std::sqrt(tradingDays);
}

double yearlyVolatilityOfPrice(const ValuationRequest& request, double price, bool isCall,
                               double forward, double tradingDays) {
  const double d = discountOf(request);
  const double s =
      request.days >= 1 ? impliedOfSide(price, isCall, forward, request.strike, d) : kNaN;
  return s / std::sqrt(static_cast<double>(request.days)) * std::sqrt(tradingDays);
}

double gammaBump(const DrawTable& draws, std::int32_t days, std::int32_t stepsPerDay) {
  const double sigma = drawDeviation(draws);
  return 0.1 * sigma * std::sqrt(static_cast<double>(stepsPerDay) * days);
}

DeskFigures deskFigures(const ValuationRequest& request, const ValuationResult& result,
                        const DeskSums& sums, double n, bool gammaDefined, double bump,
                        double tradingDays) {
  DeskFigures figures;
  const double d = discountOf(request);
  for (int p = 0; p < kPathCount; ++p) {
    const double start = startPriceOfPath(request, p);
    const double forward = sums.terminal[p] / n;
    figures.forward[p] = forward;
    const double s = request.days >= 1
                         ? impliedFromValue(callValueOfPath(result, p), putValueOfPath(result, p),
                                            forward, request.strike, d)
                         : kNaN;
    figures.ivDay[p] = s / std::sqrt(static_cast<double>(request.days));
    figures.ivYear[p] = figures.ivDay[p] * std::sqrt(tradingDays);
    figures.deltaCall[p] = d * (sums.above[p] / n) / start;
    figures.deltaPut[p] = figures.deltaCall[p] - d * (sums.terminal[p] / n) / start;
    const double up = d * (sums.aboveUp[p] / n) / start;
    const double down = d * (sums.aboveDown[p] / n) / start;
    figures.gamma[p] = request.days >= 1 && gammaDefined && bump != 0.0
                           ? (up - down) / (2.0 * bump * start)
                           : kNaN;
  }
  return figures;
}

}  // namespace empricer
