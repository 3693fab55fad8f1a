// The loop of expOfEach, built once for each instruction set (exp_*.cpp).
#pragma once

#include "engine/exact/exp_kernels.h"

namespace empricer {

inline void expOfEachBody(const double* in, double shift, double* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = expOne(in[i] - shift);
}

}  // namespace empricer
