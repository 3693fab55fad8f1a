#include "text/int_conversion.h"

#include <cmath>

namespace empricer {

std::optional<std::int32_t> truncateToInt32(double value) {
  // Written so that NaN fails both comparisons.
  if (!(value > -2147483649.0 && value < 2147483648.0)) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

std::int32_t truncateSaturated(double value) {
  if (std::isnan(value)) return 0;
  if (value <= -2147483648.0) return INT32_MIN;
  if (value >= 2147483647.0) return INT32_MAX;
  return static_cast<std::int32_t>(value);
}

}  // namespace empricer
