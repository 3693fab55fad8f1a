// The moments of a set of equally likely values: the data's returns, or the return of each
// generator output.
#pragma once

#include <cstddef>

namespace empricer {

struct Moments {
  double mean = 0.0;
  double standardDeviation = 0.0;  // population form: divided by the count
  double skewness = 0.0;           // third central moment over the cube of the deviation
  double excessKurtosis = 0.0;     // fourth central moment over its square, less 3
  double minimum = 0.0;
  double maximum = 0.0;
};

// Two passes: the mean, then the central moments. `count` must be at least 1.
Moments momentsOf(const double* values, std::size_t count);

}  // namespace empricer
