#include "engine/exact/exp_kernel_body.h"

#if defined(EMPRICER_X86_KERNELS)
#include "engine/exact/exp_wide.h"
#endif

namespace empricer {

void expOfEachScalar(const double* in, double shift, double* out, std::size_t n) {
  expOfEachBody(in, shift, out, n);
}

void expOfEach(const double* in, double shift, double* out, std::size_t n) {
#if defined(EMPRICER_X86_KERNELS)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return expOfEachAvx512(in, shift, out, n);
  if (__builtin_cpu_supports("avx2")) return expOfEachAvx2(in, shift, out, n);
#endif
  expOfEachBody(in, shift, out, n);
}

}  // namespace empricer
