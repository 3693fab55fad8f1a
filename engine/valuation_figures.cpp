#include "engine/valuation_figures.h"

#include <cmath>
#include <cstdint>

namespace empricer {

namespace {

// The rate enters the shifted paths' growth per step scaled by 0.01, and the discount without
// it. The two are not meant to agree; "fixing" either changes every shifted value.
constexpr double kRateScale = 0.01;
// The base of the discount power is this truncated literal, not e: std::exp(x) and
// std::pow(2.718281828459, x) differ in the last bits, and the results with them.
constexpr double kDiscountBase = 2.718281828459;

double discountOver(double days, const ValuationRequest& request) {
  return std::pow(kDiscountBase, -(days * request.riskFreeRate * request.stepFraction));
}

}  // namespace

double growthPerStep(const ValuationRequest& request) {
  return request.riskFreeRate * request.stepFraction * kRateScale + 1.0;
}

double discountOf(const ValuationRequest& request) {
  return discountOver(static_cast<double>(request.days), request);
}

double dayBeforeDiscountOf(const ValuationRequest& request) {
  return discountOver(static_cast<double>(static_cast<std::int64_t>(request.days) - 1), request);
}

void fillFigures(const ValuationRequest& request, const PayoffSums& sums, double total,
                 ValuationResult& result) {
  const double d = discountOf(request);
  const double n = total;
  const double q = 1.0 / n;

  result.callValue = q * d * sums.call[kBasePath];
  result.putValue = q * d * sums.put[kBasePath];
  for (int k = 0; k < 4; ++k) {
    result.shiftCall[k] = q * d * sums.call[kShiftedPathIndex[k]];
    result.shiftPut[k] = q * d * sums.put[kShiftedPathIndex[k]];
  }
  // The discount factor multiplies the variance inside the root, not the spread outside it:
  // the reported spread is sqrt(d) times the plain one, and must stay so.
  result.stdevS = std::pow(
      (n * sums.sumSquares - sums.sumPrices * sums.sumPrices) / n / (n - 1.0) * d, 0.5);

  const double d1 = dayBeforeDiscountOf(request);
  for (int p = 0; p < kPathCount; ++p) {
    result.thetaCall[p] = callValueOfPath(result, p) - q * d1 * sums.dayBeforeCall[p];
    result.thetaPut[p] = putValueOfPath(result, p) - q * d1 * sums.dayBeforePut[p];
  }
}

}  // namespace empricer
