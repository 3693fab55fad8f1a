#include "engine/desk/valuation_figures.h"

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
  const double perDay = static_cast<double>(kDefaultStepsPerDay) / request.stepsPerDay;
  return request.riskFreeRate * request.stepFraction * kRateScale * perDay + 1.0;
}

double discountOf(const ValuationRequest& request) {
  return discountOver(static_cast<double>(request.days), request);
}

double dayBeforeDiscountOf(const ValuationRequest& request) {
  return discountOver(static_cast<double>(static_cast<std::int64_t>(request.days) - 1), request);
}

}  // namespace empricer
