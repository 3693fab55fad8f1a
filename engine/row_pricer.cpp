#include "engine/row_pricer.h"

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

void RowPricer::startWins(const ValuationResult& values) {
  for (int p = 0; p < kPathCount; ++p) {
    callThreshold_[p] = strike_ + callValueOfPath(values, p);
    putThreshold_[p] = strike_ - putValueOfPath(values, p);
    callWins_[p] = putWins_[p] = 0.0;
  }
}

void RowPricer::fillProfits(double total, double& call, double& put) const {
  const double q = 1.0 / total;
  constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
  call = profitCallThreshold_ == profitCallThreshold_ ? q * profitCallWins_ : kNone;
  put = profitPutThreshold_ == profitPutThreshold_ ? q * profitPutWins_ : kNone;
}

void RowPricer::fillProbabilities(double total, ValuationResult& result) const {
  const double q = 1.0 / total;
  for (int p = 0; p < kPathCount; ++p) {
    result.probCall[p] = q * callWins_[p];
    result.probPut[p] = q * putWins_[p];
  }
}

}  // namespace empricer
