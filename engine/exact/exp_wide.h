// The wide builds of expOfEach's loop (exp_avx2.cpp, exp_avx512.cpp), for x86-64 only; call
// them only where the processor has the instruction set.
#pragma once

#include <cstddef>

namespace empricer {

void expOfEachAvx2(const double* in, double shift, double* out, std::size_t n);
void expOfEachAvx512(const double* in, double shift, double* out, std::size_t n);

}  // namespace empricer
