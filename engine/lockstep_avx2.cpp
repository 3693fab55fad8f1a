// The lockstep kernel with AVX2: eight lanes, the generator states in one vector of 32-bit
// integers, the prices in two vectors of four doubles per path. Compiled with -mavx2 and run
// only where the processor has it.
#include <immintrin.h>

#include "engine/lockstep_kernels.h"

// GCC 12 takes the self-initialised "undefined" vectors inside the gather and extract
// intrinsics for uninitialised reads.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

using Doubles = __m256d;
using States = __m256i;
using Mask = __m256d;  // all ones in a set lane
constexpr int kStateLanes = 8;
static_assert(kStateLanes == kAvx2Lanes);

inline Doubles splat(double x) { return _mm256_set1_pd(x); }
inline Doubles add(Doubles a, Doubles b) { return _mm256_add_pd(a, b); }
inline Doubles mul(Doubles a, Doubles b) { return _mm256_mul_pd(a, b); }
inline Doubles div(Doubles a, Doubles b) { return _mm256_div_pd(a, b); }
inline Mask greater(Doubles a, Doubles b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
inline Mask less(Doubles a, Doubles b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
inline Mask either(Mask a, Mask b) { return _mm256_or_pd(a, b); }
inline Mask both(Mask a, Mask b) { return _mm256_and_pd(a, b); }
inline Mask noLane() { return _mm256_setzero_pd(); }
inline bool anyLane(Mask m) { return _mm256_movemask_pd(m) != 0; }
inline Doubles choose(Mask m, Doubles a, Doubles b) { return _mm256_blendv_pd(a, b, m); }
inline void storeDoubles(double* to, Doubles x) { _mm256_storeu_pd(to, x); }

inline States loadStates(const std::uint32_t* from) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
}
inline States nextStates(States s) {
  const __m256i multiplier = _mm256_set1_epi32(static_cast<int>(kRandomMultiplier));
  const __m256i increment = _mm256_set1_epi32(static_cast<int>(kRandomIncrement));
  return _mm256_add_epi32(_mm256_mullo_epi32(s, multiplier), increment);
}
inline __m256i outputsOf(States s) {
  return _mm256_and_si256(_mm256_srli_epi32(s, 16), _mm256_set1_epi32(0x7FFF));
}
inline Doubles gatherLow(const double* table, States s) {
  return _mm256_i32gather_pd(table, _mm256_castsi256_si128(outputsOf(s)), 8);
}
inline Doubles gatherHigh(const double* table, States s) {
  return _mm256_i32gather_pd(table, _mm256_extracti128_si256(outputsOf(s), 1), 8);
}

#include "engine/lockstep_kernel_body.h"

}  // namespace

void runLockstepBlockAvx2(const LockstepJob& job, LockstepBlock& block) { runBlock(job, block); }
