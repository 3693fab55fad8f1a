// What a table means hangs on the steps of a day it is run with: a table of daily returns run
// at 270 steps a day has a day 16 times too wide. A run and --check say so in one line when the
// table's day, under the steps in force, has an annualised volatility no market has.
#pragma once

#include <optional>
#include <string>

#include "engine/table/draw_table.h"

namespace empricer {

// Outside these, a day's annualised volatility (before the band) is implausible.
constexpr double kMostPlausibleVolatility = 2.0;
constexpr double kLeastPlausibleVolatility = 0.005;
// The volatility the steps a day suggested are chosen for.
constexpr double kTypicalVolatility = 0.2;

// When dist.csv's day under `stepsPerDay` is implausible: what it reads (the day's
// volatility) and why that is told (the bound, and the steps a day that give a plausible one,
// with its volatility); nothing otherwise (and for draws with a NaN or no spread).
struct DayNotice {
  std::string what;
  std::string why;
};
std::optional<DayNotice> implausibleDay(const DrawTable& draws, int stepsPerDay,
                                        double tradingDays);

// The same as one warning's text (without "warning: "): "dist.csv: WHAT: WHY".
std::optional<std::string> implausibleDayNotice(const DrawTable& draws, int stepsPerDay,
                                                double tradingDays);

}  // namespace empricer
