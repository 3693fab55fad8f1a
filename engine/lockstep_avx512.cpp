// The lockstep kernel with AVX-512: sixteen lanes, the generator states in one vector of
// 32-bit integers, the prices in two vectors of eight doubles per path, the band tests in
// mask registers. Compiled with -mavx512f and run only where the processor has it.
#include "engine/lockstep_kernels.h"

#include <immintrin.h>

#include "engine/path_simulation.h"
#include "input/random_generator.h"

// GCC 12 takes the self-initialised "undefined" vectors inside the gather and extract
// intrinsics for uninitialised reads.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

static_assert(kAvx512Lanes == 16);

void runLockstepBlockAvx512(const LockstepJob& job, LockstepBlock& block) {
  constexpr int kHalves = 2;  // two vectors of eight lanes
  const __m512i multiplier = _mm512_set1_epi32(static_cast<int>(kRandomMultiplier));
  const __m512i increment = _mm512_set1_epi32(static_cast<int>(kRandomIncrement));
  const __m512i outputBits = _mm512_set1_epi32(0x7FFF);
  const __m512d one = _mm512_set1_pd(1.0);
  const __m512d growth = _mm512_set1_pd(job.growth);
  const __m512d upper = _mm512_set1_pd(kUpperBand);
  const __m512d lower = _mm512_set1_pd(kLowerBand);
  const double* returnFor = job.returnFor;

  __m512i state = _mm512_loadu_si512(block.laneState);
  __m512d price[kPathCount][kHalves];
  for (int p = 0; p < kPathCount; ++p) {
    for (int h = 0; h < kHalves; ++h) price[p][h] = _mm512_set1_pd(job.start[p]);
  }

  for (std::int32_t day = 0; day < job.days; ++day) {
    // The day's band, from the anchor (the price at the day's start).
    __m512d inverse[kPathCount][kHalves];
    __m512d capHigh[kPathCount][kHalves];
    __m512d capLow[kPathCount][kHalves];
    // Set where a price set to capHigh then falls below the band: the second band test reads
    // inverse * capHigh, which is fixed for the day.
    __mmask8 capHighFalls[kPathCount][kHalves];
    for (int p = 0; p < kPathCount; ++p) {
      for (int h = 0; h < kHalves; ++h) {
        inverse[p][h] = _mm512_div_pd(one, price[p][h]);
        capHigh[p][h] = _mm512_mul_pd(price[p][h], upper);
        capLow[p][h] = _mm512_mul_pd(price[p][h], lower);
        capHighFalls[p][h] =
            _mm512_cmp_pd_mask(_mm512_mul_pd(inverse[p][h], capHigh[p][h]), lower, _CMP_LT_OQ);
      }
    }

    for (int s = 0; s < kStepsPerDay; ++s) {
      state = _mm512_add_epi32(_mm512_mullo_epi32(state, multiplier), increment);
      const __m512i output = _mm512_and_si512(_mm512_srli_epi32(state, 16), outputBits);
      __m512d factor[kHalves][2];  // [half][0] base path, [half][1] shifted paths
      const __m512d w0 = _mm512_i32gather_pd(_mm512_castsi512_si256(output), returnFor, 8);
      const __m512d w1 = _mm512_i32gather_pd(_mm512_extracti64x4_epi64(output, 1), returnFor, 8);
      factor[0][0] = _mm512_add_pd(one, w0);
      factor[0][1] = _mm512_add_pd(w0, growth);
      factor[1][0] = _mm512_add_pd(one, w1);
      factor[1][1] = _mm512_add_pd(w1, growth);

      // Move every path and note whether any lane left the band; mostly none did, and then
      // the moved prices stand as they are.
      __m512d moved[kPathCount][kHalves];
      __mmask8 outside = 0;
#pragma GCC unroll 5
      for (int p = 0; p < kPathCount; ++p) {
#pragma GCC unroll 2
        for (int h = 0; h < kHalves; ++h) {
          moved[p][h] = _mm512_mul_pd(price[p][h], factor[h][p == kBasePath ? 0 : 1]);
          const __m512d ratio = _mm512_mul_pd(inverse[p][h], moved[p][h]);
          outside = static_cast<__mmask8>(outside | _mm512_cmp_pd_mask(ratio, upper, _CMP_GT_OQ) |
                                          _mm512_cmp_pd_mask(ratio, lower, _CMP_LT_OQ));
        }
      }
      if (outside != 0) {
#pragma GCC unroll 5
        for (int p = 0; p < kPathCount; ++p) {
#pragma GCC unroll 2
          for (int h = 0; h < kHalves; ++h) {
            __m512d x = moved[p][h];
            const __m512d ratio = _mm512_mul_pd(inverse[p][h], x);
            const __mmask8 above = _mm512_cmp_pd_mask(ratio, upper, _CMP_GT_OQ);
            // A ratio above the band is not below it, so after capping only capHighFalls
            // decides the second test.
            const __mmask8 below = static_cast<__mmask8>(
                _mm512_cmp_pd_mask(ratio, lower, _CMP_LT_OQ) | (above & capHighFalls[p][h]));
            x = _mm512_mask_blend_pd(above, x, capHigh[p][h]);
            moved[p][h] = _mm512_mask_blend_pd(below, x, capLow[p][h]);
          }
        }
      }
#pragma GCC unroll 5
      for (int p = 0; p < kPathCount; ++p) {
#pragma GCC unroll 2
        for (int h = 0; h < kHalves; ++h) price[p][h] = moved[p][h];
      }
    }

    if (day == job.days - 2) {
      for (int p = 0; p < kPathCount; ++p) {
        for (int h = 0; h < kHalves; ++h) _mm512_storeu_pd(&block.dayBefore[p][8 * h], price[p][h]);
      }
    }
  }
  for (int p = 0; p < kPathCount; ++p) {
    for (int h = 0; h < kHalves; ++h) _mm512_storeu_pd(&block.terminal[p][8 * h], price[p][h]);
  }
}
