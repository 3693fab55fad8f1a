// One day of a table's steps as the pricer sees it: N steps of its draws, the path held in
// the band after each, summed up in the moments of the day's relative change S_day / S - 1.
#pragma once

#include "engine/table/draw_table.h"

namespace empricer {

struct DayShape {
  double mean = 0.0;
  double deviation = 0.0;  // population form
  double skewness = 0.0;
  double excessKurtosis = 0.0;
  // The probability that the day ends held at an end of the band. With one step a day it is
  // the share of days the band cuts; with more, the band may cut a day that ends inside.
  double heldAtEnd = 0.0;
};

// With one step a day, exactly over the 32768 draws; with more, from the exact law's day on
// the lattice of 4 x latticeFor(draws) spacings. NaN figures for a table with a NaN draw.
DayShape dayShapeOf(const DrawTable& draws, int stepsPerDay);

// The annualised volatility of a day of `stepsPerDay` steps before the band: the draws'
// deviation x sqrt(stepsPerDay x tradingDays).
double annualisedStepVolatility(const DrawTable& draws, int stepsPerDay, double tradingDays);

}  // namespace empricer
