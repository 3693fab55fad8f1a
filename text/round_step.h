// The step between the ticks of a picture's axis.
#pragma once

#include <cmath>

namespace empricer {

// The smallest of 1, 2, 5 and 10 times the power of ten at or below `raw` that is at least
// `raw`: a round step for ticks about `raw` apart.
inline double roundStep(double raw) {
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = power;
  for (const double factor : {2.0, 5.0, 10.0}) {
    if (step < raw) step = factor * power;
  }
  return step;
}

}  // namespace empricer
