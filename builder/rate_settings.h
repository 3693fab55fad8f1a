// The two settings of empricer's Setup.txt that a risk-neutral table needs, keys 3 and 4, read
// by the rules empricer reads the file with (engine/valuation/setup_keys.h).
#pragma once

#include <string>

#include "text/status.h"

namespace empricer {

struct RateSettings {
  double rate = 0.0;          // key 3, the risk-free rate
  double stepScale = 0.0;     // key 4, as written
  double stepFraction = 0.0;  // stepFractionOf(key 4), as empricer computes it
};

// Fails with one line naming the file when it cannot be opened or no line gives key 3 or 4.
Outcome<RateSettings> loadRateSettings(const std::string& path);

// The mean return per step that makes the base path's expected terminal price, discounted as
// empricer discounts (by exp(-days x rate x stepFraction)), equal its start price S0 less what
// the carry yields over the days, S0 x exp(-days x carry x stepFraction), on a day of
// `stepsPerDay` steps: expm1((rate - carry) x stepFraction / stepsPerDay). The carry (a
// dividend yield, a repo rate, a foreign rate) is in the units of the rate; a carry of 0 gives
// S0 itself.
double riskNeutralMean(const RateSettings& settings, double carry, int stepsPerDay);

}  // namespace empricer
