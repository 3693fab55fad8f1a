// The history's own days, each as the simple return S_end / S_start - 1 of its prices, beside
// the table's day as empricer draws it: with sessions each session's returns compounded (after
// the gap before it with --with-gaps); on a column of dates without sessions each date's
// returns compounded, the move from the date before included; otherwise consecutive blocks of
// the returns per day.
#pragma once

#include <cstdint>
#include <vector>

#include "builder/price_history.h"

namespace empricer {

// How the history's days were cut.
enum class DaysCut { sessions, dates, blocks };

struct HistoryDays {
  DaysCut cut = DaysCut::blocks;
  std::int64_t blockLength = 0;  // the returns of a block, when cut in blocks
  std::vector<double> returns;   // each day's simple return, in file order
  // The days that end held at an end of the band (kLowerBand or kUpperBand times the day's
  // start) when the price is held in it after each move, as empricer holds a path.
  std::int64_t heldAtEnd = 0;
  // The days whose path, so held, reaches an end of the band at some move: the days it cuts.
  std::int64_t bandCut = 0;
};

// With `sessions`, a day for each session that holds a return (with `withGaps` each but the
// first, the gap before it its first move); else, when the history has dateReturns, a day for
// each date that holds a return; else a day for each whole block of `returnsPerDay` returns,
// rounded to a whole number (halves up), at least 1, a shorter last block left out.
HistoryDays historyDays(const PriceHistory& history, bool sessions, bool withGaps,
                        double returnsPerDay);

}  // namespace empricer
