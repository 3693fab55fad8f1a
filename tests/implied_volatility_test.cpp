// Black's price and its inverse: the inverse recovers the total volatility over the whole grid
// of moneyness and volatility, and the price agrees with references computed another way
// (long double with erfcl where its two terms do not cancel, and the integral of the vega where
// they do), so that a wrong price cannot hide behind a consistent round trip.
#include "engine/desk/implied_volatility.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

using namespace empricer;

namespace empricer {
namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// ln(F/K) from -3 to 3 in steps of 0.05, and s log-spaced from 1e-4 to 3.
std::vector<double> moneynessGrid() {
  std::vector<double> xs;
  for (int i = 0; i <= 120; ++i) xs.push_back(-3.0 + 0.05 * i);
  return xs;
}
std::vector<double> volatilityGrid(int count) {
  std::vector<double> ss;
  for (int j = 0; j < count; ++j) ss.push_back(1e-4 * std::pow(3e4, j / (count - 1.0)));
  return ss;
}

// Undiscounted Black in long double: trustworthy where the two terms do not cancel much.
struct Reference {
  long double price;
  long double cancellation;  // (sum of the magnitudes of the two terms) / |price|
};
Reference longDoubleBlack(double forward, double strike, double s, bool isCall) {
  const long double f = forward;
  const long double k = strike;
  const long double x = std::log(f / k);
  const long double d1 = x / s + 0.5L * s;
  const long double d2 = x / s - 0.5L * s;
  const long double root2 = std::sqrt(2.0L);
  const long double sign = isCall ? 1.0L : -1.0L;
  // N(sign d) = erfc(-sign d / sqrt 2) / 2.
  const long double a = f * 0.5L * std::erfc(-sign * d1 / root2);
  const long double b = k * 0.5L * std::erfc(-sign * d2 / root2);
  const long double price = sign * (a - b);
  return {price, (a + b) / std::fabs(price)};
}

// The out-of-the-money normalised call as the integral of its vega,
// b(x, s) = phi(0) * integral from 0 to s of exp(-x^2/(2u^2) - u^2/8) du for x <= 0, a sum of
// positive numbers, by tanh-sinh quadrature in long double.
long double vegaIntegral(double xd, double sd) {
  const long double x = xd;
  const long double s = sd;
  const long double pi = 3.14159265358979323846264338327950288L;
  const long double step = 1.0L / 64;
  long double sum = 0.0L;
  for (int k = -4 * 64; k <= 4 * 64; ++k) {
    const long double tau = k * step;
    const long double q = 0.5L * pi * std::sinh(tau);
    const long double v = 1.0L / (1.0L + std::exp(-2.0L * q));  // (1 + tanh q) / 2
    const long double c = std::cosh(q);
    const long double weight = 0.5L * pi * std::cosh(tau) / (c * c);
    const long double u = s * v;
    if (u > 0.0L) sum += weight * std::exp(-x * x / (2.0L * u * u) - u * u / 8.0L);
  }
  return 0.3989422804014326779399460599343818684759L * 0.5L * s * step * sum;
}

TEST(ImpliedVolatilityTest, RecoversTheVolatilityOverTheGridOnBothSides) {
  double worst = 0.0;
  int checked = 0;
  int inTheMoneyChecked = 0;
  for (const double forward : {1.0, 2500.0}) {
    for (const double x : moneynessGrid()) {
      const double strike = forward * std::exp(-x);
      const bool callIsOut = strike >= forward;
      for (const double s : volatilityGrid(100)) {
        const double out = blackPrice(forward, strike, s, callIsOut);
        if (!(out > 1e-250 * forward)) continue;
        const double implied = impliedTotalVolatility(out, forward, strike, callIsOut);
        const double error = std::fabs(implied - s) / s;
        worst = std::fmax(worst, error);
        ++checked;
        ASSERT_LE(error, 1e-12) << "out of the money, F " << forward << " K " << strike << " s "
                                << s << " gives " << implied;
        // The in-the-money price carries the out-of-the-money value to within its own
        // rounding, eps * price, which moves s by about that over the vega F phi(d1).
        const double in = blackPrice(forward, strike, s, !callIsOut);
        const double d1 = std::log(forward / strike) / s + 0.5 * s;
        const double vega = forward * std::exp(-0.5 * d1 * d1) / std::sqrt(2.0 * std::numbers::pi);
        const double conditioning = 4.0 * kEps * in / (s * vega);
        if (!(conditioning < 1e-6)) continue;
        const double inImplied = impliedTotalVolatility(in, forward, strike, !callIsOut);
        ++inTheMoneyChecked;
        ASSERT_LE(std::fabs(inImplied - s) / s, 1e-12 + conditioning)
            << "in the money, F " << forward << " K " << strike << " s " << s << " gives "
            << inImplied;
      }
    }
  }
  EXPECT_GT(checked, 10000);
  EXPECT_GT(inTheMoneyChecked, 6000);
  RecordProperty("worst_relative_error", std::to_string(worst));
}

// Relative to a reference from the exact x, the price errs by a few ulps times 1 + h^2: its
// condition number in x, since ln b ~ -h^2/2 far out of the money (h = x/s).
double priceTolerance(double x, double s) {
  const double h = x / s;
  return 16.0 * kEps * (1.0 + h * h);
}

TEST(ImpliedVolatilityTest, PriceAgreesWithLongDoubleWhereItsTermsDoNotCancel) {
  int compared = 0;
  for (const double x : moneynessGrid()) {
    const double forward = 3.0;
    const double strike = forward * std::exp(-x);
    const double xd = std::log(forward / strike);
    for (const double s : volatilityGrid(60)) {
      for (const bool isCall : {true, false}) {
        const double price = blackPrice(forward, strike, s, isCall);
        const Reference ref = longDoubleBlack(forward, strike, s, isCall);
        if (!(ref.price > 1e-250L) || ref.cancellation > 1e3L) continue;
        ++compared;
        const long double error = std::fabs(price - ref.price) / ref.price;
        ASSERT_LE(error, priceTolerance(xd, s) + ref.cancellation * 1e-18L)
            << "F " << forward << " K " << strike << " s " << s << " call " << isCall << ": "
            << price << " against " << static_cast<double>(ref.price);
      }
      // Parity: C - P = F - K, to the rounding of the larger of the two.
      const double call = blackPrice(forward, strike, s, true);
      const double put = blackPrice(forward, strike, s, false);
      EXPECT_NEAR(call - put, forward - strike, 4.0 * kEps * std::fmax(call, put))
          << "K " << strike << " s " << s;
    }
  }
  EXPECT_GT(compared, 4000);
}

TEST(ImpliedVolatilityTest, PriceAgreesWithTheIntegralOfTheVegaWhereItsTermsCancel) {
  // Small s near the money and far out of the money, where F N(d1) and K N(d2) agree in most
  // of their digits; x = 0 is erf(s / (2 sqrt 2)).
  int compared = 0;
  for (const double x : moneynessGrid()) {
    if (x > 0.0) continue;
    for (const double s : volatilityGrid(40)) {
      const long double ref = vegaIntegral(x, s);
      if (!(ref > 1e-250L)) continue;
      ++compared;
      const double b = normalisedBlack(x, s);
      const long double error = std::fabs(b - ref) / ref;
      ASSERT_LE(error, priceTolerance(x, s))
          << "x " << x << " s " << s << ": " << b << " against " << static_cast<double>(ref);
    }
  }
  EXPECT_GT(compared, 1000);
  // Below the grid, where the direct formula has no digit left (its two terms are
  // 1/2 +- 2e-9): b(0, s) = erf(s / (2 sqrt 2)) = phi(0) s (1 - s^2/24 + ...).
  const double s = 1e-8;
  const double atTheMoney = 0.3989422804014326779 * s * (1.0 - s * s / 24.0);
  EXPECT_NEAR(normalisedBlack(0.0, s), atTheMoney, 2.0 * kEps * atTheMoney);
  EXPECT_NEAR(blackPrice(100.0, 100.0, s, true), 100.0 * atTheMoney, 200.0 * kEps * atTheMoney);
}

TEST(ImpliedVolatilityTest, NaNOutsideTheBoundsAndForBadInputs) {
  const double f = 100.0;
  const double k = 80.0;
  // Calls: (max(F - K, 0), F); puts: (max(K - F, 0), K).
  for (const double price : {20.0, 19.0, 0.0, -1.0, 100.0, 101.0, kInf, -kInf, kNaN}) {
    EXPECT_TRUE(std::isnan(impliedTotalVolatility(price, f, k, true))) << price;
  }
  for (const double price : {0.0, -1e-300, 80.0, 81.0, kInf, kNaN}) {
    EXPECT_TRUE(std::isnan(impliedTotalVolatility(price, f, k, false))) << price;
  }
  for (const double bad : {0.0, -1.0, kInf, -kInf, kNaN}) {
    EXPECT_TRUE(std::isnan(impliedTotalVolatility(10.0, bad, 50.0, true))) << bad;
    EXPECT_TRUE(std::isnan(impliedTotalVolatility(10.0, 50.0, bad, false))) << bad;
    EXPECT_TRUE(std::isnan(blackPrice(bad, 50.0, 0.2, true))) << bad;
    EXPECT_TRUE(std::isnan(blackPrice(50.0, bad, 0.2, false))) << bad;
  }
  EXPECT_TRUE(std::isnan(blackPrice(f, k, -0.1, true)));
  EXPECT_TRUE(std::isnan(blackPrice(f, k, kNaN, false)));
  EXPECT_EQ(blackPrice(f, k, 0.0, true), 20.0);
  EXPECT_EQ(blackPrice(f, k, 0.0, false), 0.0);
  EXPECT_EQ(blackPrice(f, k, kInf, true), f);
  EXPECT_EQ(blackPrice(f, k, kInf, false), k);
  // Near s = inf the price reaches its ceiling, and never passes it, however far apart F and K.
  for (const double strike : {1e-300, 1e300}) {
    for (const double s : {40.0, 1e3, 1e10}) {
      EXPECT_LE(blackPrice(1.0, strike, s, true), 1.0) << strike << " " << s;
      EXPECT_LE(blackPrice(1.0, strike, s, false), strike) << strike << " " << s;
    }
  }

  // One ulp inside each bound there is an answer, and it prices back to the bound's side.
  for (const double strike : {80.0, 100.0, 125.0}) {
    for (const bool isCall : {true, false}) {
      const double floor = isCall ? std::fmax(f - strike, 0.0) : std::fmax(strike - f, 0.0);
      const double ceiling = isCall ? f : strike;
      for (const double price : {std::nextafter(floor, kInf), std::nextafter(ceiling, 0.0)}) {
        const double s = impliedTotalVolatility(price, f, strike, isCall);
        ASSERT_TRUE(s >= 0.0 && s < kInf) << strike << " " << isCall << " " << price;
        EXPECT_NEAR(blackPrice(f, strike, s, isCall), price, 4.0 * kEps * ceiling)
            << strike << " " << isCall << " " << price;
      }
    }
  }
}

}  // namespace
}  // namespace empricer
