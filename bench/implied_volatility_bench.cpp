// Cost of one implied-volatility inversion (and, for scale, of one price), over the grid of
// ln(F/K) from -3 to 3 (121 values) and s from 1e-4 to 3 (100 values, log-spaced), wherever the
// out-of-the-money price is above 1e-250 F:
//   ImpliedVolatility/out_of_the_money   the side a caller inverts
//   ImpliedVolatility/in_the_money       the other side, where its price still holds s
//   ImpliedVolatility/black_price        the price alone
// items_per_second is inversions (or prices) per second on one thread.
//
//   build/bench/empricer_bench --benchmark_filter=Implied
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/desk/implied_volatility.h"

using namespace empricer;

namespace {

struct Case {
  double price;
  double forward;
  double strike;
  double totalVolatility;
  bool isCall;
};

std::vector<Case> gridCases(bool outOfTheMoney) {
  std::vector<Case> cases;
  const double forward = 100.0;
  for (int i = 0; i <= 120; ++i) {
    const double strike = forward * std::exp(-(-3.0 + 0.05 * i));
    const bool callIsOut = strike >= forward;
    for (int j = 0; j < 100; ++j) {
      const double s = 1e-4 * std::pow(3e4, j / 99.0);
      const double out = empricer::blackPrice(forward, strike, s, callIsOut);
      if (!(out > 1e-250 * forward)) continue;
      const bool isCall = outOfTheMoney ? callIsOut : !callIsOut;
      const double price = empricer::blackPrice(forward, strike, s, isCall);
      const double floor =
          isCall ? std::fmax(forward - strike, 0.0) : std::fmax(strike - forward, 0.0);
      if (!(price > floor)) continue;  // all of the value lost to the intrinsic value's rounding
      cases.push_back({price, forward, strike, s, isCall});
    }
  }
  return cases;
}

enum class Work { outOfTheMoney, inTheMoney, price };

void ImpliedVolatility(benchmark::State& state, Work work) {
  const std::vector<Case> cases = gridCases(work != Work::inTheMoney);
  std::size_t next = 0;
  for (auto _ : state) {
    const Case& c = cases[next];
    if (work == Work::price) {
      benchmark::DoNotOptimize(
          empricer::blackPrice(c.forward, c.strike, c.totalVolatility, c.isCall));
    } else {
      benchmark::DoNotOptimize(
          empricer::impliedTotalVolatility(c.price, c.forward, c.strike, c.isCall));
    }
    next = next + 1 == cases.size() ? 0 : next + 1;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.counters["cases"] = static_cast<double>(cases.size());
}

}  // namespace

BENCHMARK_CAPTURE(ImpliedVolatility, out_of_the_money, Work::outOfTheMoney);
BENCHMARK_CAPTURE(ImpliedVolatility, in_the_money, Work::inTheMoney);
BENCHMARK_CAPTURE(ImpliedVolatility, black_price, Work::price);
