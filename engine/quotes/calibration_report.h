// What a calibration tells, as text: a summary line for each S0, a warning where the measure
// leans hard on few paths, and the report's CSV (--calibration-report, and Python's frame).
#pragma once

#include <string>
#include <vector>

#include "engine/quotes/calibration_quotes.h"
#include "engine/valuation/records.h"

namespace empricer {

// A calibration whose relative entropy is above this (an effective share of the paths' law,
// exp(-KL), below 1 %) leans on a few paths: the run warns.
constexpr double kMostCalibrationEntropy = 4.605170185988091;  // log(100)

// One line for each S0, and the warnings, each without "empricer: ".
std::vector<std::string> calibrationSummary(const CalibrationLog& log);
std::vector<std::string> calibrationWarnings(const CalibrationLog& log);

// The report, as CSV: one line for each quoted price (line, S0, side, K, days, bid, ask, its
// model price, whether inside, its residual beyond the nearer side in price and in annualised
// volatility points, its strike's multiplier), then one for each expiry (forward, mu), then
// one for each S0 (the relative entropy, exp(-KL), the sweeps, whether met), each part under
// its own header. Numbers are the shortest text that reads back as the same double. `common`
// gives the rate terms for the volatilities.
std::string calibrationReportText(const CalibrationLog& log, const ValuationRequest& common,
                                  double tradingDays);

}  // namespace empricer
