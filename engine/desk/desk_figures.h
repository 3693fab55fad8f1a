// What a desk reads beside the values: each path's forward (its mean simulated terminal
// price), Black's implied volatility of its out-of-the-money value, and its pathwise delta and
// gamma. The model's paths scale with their start (multiplicative steps, a band relative to
// the day's anchor), so S_T / start is the pathwise derivative of S_T, and rescaling the same
// paths is a bump with common random numbers.
#pragma once

#include "engine/table/draw_table.h"
#include "engine/valuation/records.h"
#include "engine/valuation/row_pricer.h"

namespace empricer {

struct DeskFigures {
  double forward[kPathCount];  // path order
  double ivDay[kPathCount];
  double ivYear[kPathCount];
  double deltaCall[kPathCount];
  double deltaPut[kPathCount];
  double gamma[kPathCount];
};

// The gamma's relative bump for a valuation of `days` days of N steps: 0.1 x sigma x
// sqrt(N x days), sigma the population standard deviation of the 32768 equally likely draws.
double gammaBump(const DrawTable& draws, std::int32_t days, std::int32_t stepsPerDay);

// The figures of `request` from its values and its desk sums over a terminal distribution of
// total weight `total` (a law's: 1); the gamma only when `gammaDefined` (a sample of two or
// more, or a law); `tradingDays` turns a day's volatility into a year's.
DeskFigures deskFigures(const ValuationRequest& request, const ValuationResult& result,
                        const DeskSums& sums, double total, bool gammaDefined, double bump,
                        double tradingDays);

// The yearly implied volatility of a path's call and put values (discounted, with `forward`
// its forward): the out-of-the-money side's, NaN on or outside the no-arbitrage bounds or for
// days < 1.
double yearlyVolatility(const ValuationRequest& request, double call, double put,
                        double forward, double tradingDays);

// The same for one price of a call (or a put) on its own side, such as a market's.
double yearlyVolatilityOfPrice(const ValuationRequest& request, double price, bool isCall,
                               double forward, double tradingDays);

}  // namespace empricer
