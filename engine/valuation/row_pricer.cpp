#include "engine/valuation/row_pricer.h"

#include <cmath>
#include <limits>

namespace empricer {

StandardErrors RowPricer::standardErrors(double discount) const {
  StandardErrors errors;
  for (int kind = 0; kind < 2; ++kind) {
    double* out = kind == 0 ? errors.call : errors.put;
    for (int p = 0; p < kPathCount; ++p) {
      const double n = count_[p];
      out[p] = n < 2.0 ? std::numeric_limits<double>::quiet_NaN()
                       : discount * std::sqrt(squares_[kind][p] / (n - 1.0)) / std::sqrt(n);
    }
  }
  return errors;
}

}  // namespace empricer
