// The lockstep kernels with AVX-512: the generator states in vectors of sixteen 32-bit
// integers, the prices in two or four vectors of eight doubles per path (16 or 32 lanes), the
// band tests in mask registers. Compiled with -mavx512f and run only where the processor has
// it.
#include <immintrin.h>

#include "engine/simulation/lockstep_kernels.h"

namespace empricer {

// GCC 12 takes the self-initialised "undefined" vectors inside the gather and extract
// intrinsics for uninitialised reads.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

using Doubles = __m512d;
using States = __m512i;
using Mask = __mmask8;
constexpr int kStateLanes = 16;

inline Doubles splat(double x) { return _mm512_set1_pd(x); }
inline Doubles add(Doubles a, Doubles b) { return _mm512_add_pd(a, b); }
inline Doubles mul(Doubles a, Doubles b) { return _mm512_mul_pd(a, b); }
inline Doubles div(Doubles a, Doubles b) { return _mm512_div_pd(a, b); }
inline Mask greater(Doubles a, Doubles b) { return _mm512_cmp_pd_mask(a, b, _CMP_GT_OQ); }
inline Mask less(Doubles a, Doubles b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
inline Mask unordered(Doubles a, Doubles b) { return _mm512_cmp_pd_mask(a, b, _CMP_UNORD_Q); }
inline Doubles maxOf(Doubles a, Doubles b) { return _mm512_max_pd(a, b); }
inline Doubles minOf(Doubles a, Doubles b) { return _mm512_min_pd(a, b); }
inline double highestLane(Doubles x) { return _mm512_reduce_max_pd(x); }
inline double lowestLane(Doubles x) { return _mm512_reduce_min_pd(x); }
inline Mask either(Mask a, Mask b) { return static_cast<Mask>(a | b); }
inline Mask both(Mask a, Mask b) { return static_cast<Mask>(a & b); }
inline Mask noLane() { return 0; }
inline bool anyLane(Mask m) { return m != 0; }
inline Doubles choose(Mask m, Doubles a, Doubles b) { return _mm512_mask_blend_pd(m, a, b); }
inline void storeDoubles(double* to, Doubles x) { _mm512_storeu_pd(to, x); }

inline States loadStates(const std::uint32_t* from) { return _mm512_loadu_si512(from); }
inline States nextStates(States s) {
  const __m512i multiplier = _mm512_set1_epi32(static_cast<int>(kRandomMultiplier));
  const __m512i increment = _mm512_set1_epi32(static_cast<int>(kRandomIncrement));
  return _mm512_add_epi32(_mm512_mullo_epi32(s, multiplier), increment);
}
inline __m512i outputsOf(States s) {
  return _mm512_and_si512(_mm512_srli_epi32(s, 16), _mm512_set1_epi32(0x7FFF));
}
inline Doubles gatherLow(const double* table, States s) {
  return _mm512_i32gather_pd(_mm512_castsi512_si256(outputsOf(s)), table, 8);
}
inline Doubles gatherHigh(const double* table, States s) {
  return _mm512_i32gather_pd(_mm512_extracti64x4_epi64(outputsOf(s), 1), table, 8);
}

#include "engine/simulation/lockstep_kernel_body.h"

}  // namespace

void runLockstepBlockAvx512x16(const LockstepJob& job, LockstepBlock& block) {
  BlockKernel<2>::run(job, block);
}
void runLockstepBlockAvx512x32(const LockstepJob& job, LockstepBlock& block) {
  BlockKernel<4>::run(job, block);
}

}  // namespace empricer
