// The lockstep kernels with AVX2: the generator states in vectors of eight 32-bit integers,
// the prices in two, four or eight vectors of four doubles per path (8, 16 or 32 lanes).
// Compiled with -mavx2 and run only where the processor has it.
#include <immintrin.h>

#include "engine/simulation/lockstep_kernels.h"

namespace empricer {

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

inline Doubles splat(double x) { return _mm256_set1_pd(x); }
inline Doubles add(Doubles a, Doubles b) { return _mm256_add_pd(a, b); }
inline Doubles mul(Doubles a, Doubles b) { return _mm256_mul_pd(a, b); }
inline Doubles div(Doubles a, Doubles b) { return _mm256_div_pd(a, b); }
inline Mask greater(Doubles a, Doubles b) { return _mm256_cmp_pd(a, b, _CMP_GT_OQ); }
inline Mask less(Doubles a, Doubles b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
inline Mask unordered(Doubles a, Doubles b) { return _mm256_cmp_pd(a, b, _CMP_UNORD_Q); }
inline Doubles maxOf(Doubles a, Doubles b) { return _mm256_max_pd(a, b); }
inline Doubles minOf(Doubles a, Doubles b) { return _mm256_min_pd(a, b); }
inline double highestLane(Doubles x) {
  const __m128d half = _mm_max_pd(_mm256_castpd256_pd128(x), _mm256_extractf128_pd(x, 1));
  return _mm_cvtsd_f64(_mm_max_sd(half, _mm_unpackhi_pd(half, half)));
}
inline double lowestLane(Doubles x) {
  const __m128d half = _mm_min_pd(_mm256_castpd256_pd128(x), _mm256_extractf128_pd(x, 1));
  return _mm_cvtsd_f64(_mm_min_sd(half, _mm_unpackhi_pd(half, half)));
}
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
inline Doubles loadFour(const double* table, __m128i index) {
  const __m128d low = _mm_loadh_pd(_mm_load_sd(table + _mm_cvtsi128_si32(index)),
                                   table + _mm_extract_epi32(index, 1));
  const __m128d high = _mm_loadh_pd(_mm_load_sd(table + _mm_extract_epi32(index, 2)),
                                    table + _mm_extract_epi32(index, 3));
  return _mm256_insertf128_pd(_mm256_castpd128_pd256(low), high, 1);
}
inline Doubles gatherLow(const double* table, States s) {
  return loadFour(table, _mm256_castsi256_si128(outputsOf(s)));
}
inline Doubles gatherHigh(const double* table, States s) {
  return loadFour(table, _mm256_extracti128_si256(outputsOf(s), 1));
}

#include "engine/simulation/lockstep_kernel_body.h"

}  // namespace

void runLockstepBlockAvx2x8(const LockstepJob& job, LockstepBlock& block) {
  BlockKernel<2>::run(job, block);
}
void runLockstepBlockAvx2x16(const LockstepJob& job, LockstepBlock& block) {
  BlockKernel<4>::run(job, block);
}
void runLockstepBlockAvx2x32(const LockstepJob& job, LockstepBlock& block) {
  BlockKernel<8>::run(job, block);
}

}  // namespace empricer
