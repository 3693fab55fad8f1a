#include "builder/moments.h"

#include <algorithm>
#include <cmath>

namespace empricer {

Moments momentsOf(const double* values, std::size_t count) {
  Moments m;
  const double n = static_cast<double>(count);
  double sum = 0.0;
  m.minimum = values[0];
  m.maximum = values[0];
  for (std::size_t i = 0; i < count; ++i) {
    sum += values[i];
    m.minimum = std::min(m.minimum, values[i]);
    m.maximum = std::max(m.maximum, values[i]);
  }
  m.mean = sum / n;
  double m2 = 0.0;
  double m3 = 0.0;
  double m4 = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    const double d = values[i] - m.mean;
    const double d2 = d * d;
    m2 += d2;
    m3 += d2 * d;
    m4 += d2 * d2;
  }
  m2 /= n;
  m3 /= n;
  m4 /= n;
  m.standardDeviation = std::sqrt(m2);
  if (m2 > 0.0) {
    m.skewness = m3 / (m2 * m.standardDeviation);
    m.excessKurtosis = m4 / (m2 * m2) - 3.0;
  }
  return m;
}

}  // namespace empricer
