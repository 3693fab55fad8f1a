// The lockstep kernel with AVX2: eight lanes, the generator states in one vector of 32-bit
// integers, the prices in two vectors of four doubles per path. Compiled with -mavx2 and run
// only where the processor has it.
#include "engine/lockstep_kernels.h"

#include <immintrin.h>

#include "engine/path_simulation.h"
#include "input/random_generator.h"

// GCC 12 takes the self-initialised "undefined" vectors inside the gather and extract
// intrinsics for uninitialised reads.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

static_assert(kAvx2Lanes == 8);

void runLockstepBlockAvx2(const LockstepJob& job, LockstepBlock& block) {
  constexpr int kHalves = 2;  // two vectors of four lanes
  const __m256i multiplier = _mm256_set1_epi32(static_cast<int>(kRandomMultiplier));
  const __m256i increment = _mm256_set1_epi32(static_cast<int>(kRandomIncrement));
  const __m256i outputBits = _mm256_set1_epi32(0x7FFF);
  const __m256d one = _mm256_set1_pd(1.0);
  const __m256d growth = _mm256_set1_pd(job.growth);
  const __m256d upper = _mm256_set1_pd(kUpperBand);
  const __m256d lower = _mm256_set1_pd(kLowerBand);
  const double* returnFor = job.returnFor;

  __m256i state = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block.laneState));
  __m256d price[kPathCount][kHalves];
  for (int p = 0; p < kPathCount; ++p) {
    for (int h = 0; h < kHalves; ++h) price[p][h] = _mm256_set1_pd(job.start[p]);
  }

  for (std::int32_t day = 0; day < job.days; ++day) {
    // The day's band, from the anchor (the price at the day's start).
    __m256d inverse[kPathCount][kHalves];
    __m256d capHigh[kPathCount][kHalves];
    __m256d capLow[kPathCount][kHalves];
    // All ones where a price set to capHigh then falls below the band: the second band test
    // reads inverse * capHigh, which is fixed for the day.
    __m256d capHighFalls[kPathCount][kHalves];
    for (int p = 0; p < kPathCount; ++p) {
      for (int h = 0; h < kHalves; ++h) {
        inverse[p][h] = _mm256_div_pd(one, price[p][h]);
        capHigh[p][h] = _mm256_mul_pd(price[p][h], upper);
        capLow[p][h] = _mm256_mul_pd(price[p][h], lower);
        capHighFalls[p][h] =
            _mm256_cmp_pd(_mm256_mul_pd(inverse[p][h], capHigh[p][h]), lower, _CMP_LT_OQ);
      }
    }

    for (int s = 0; s < kStepsPerDay; ++s) {
      state = _mm256_add_epi32(_mm256_mullo_epi32(state, multiplier), increment);
      const __m256i output = _mm256_and_si256(_mm256_srli_epi32(state, 16), outputBits);
      __m256d factor[kHalves][2];  // [half][0] base path, [half][1] shifted paths
      const __m256d w0 = _mm256_i32gather_pd(returnFor, _mm256_castsi256_si128(output), 8);
      const __m256d w1 = _mm256_i32gather_pd(returnFor, _mm256_extracti128_si256(output, 1), 8);
      factor[0][0] = _mm256_add_pd(one, w0);
      factor[0][1] = _mm256_add_pd(w0, growth);
      factor[1][0] = _mm256_add_pd(one, w1);
      factor[1][1] = _mm256_add_pd(w1, growth);

      // Move every path and note whether any lane left the band; mostly none did, and then
      // the moved prices stand as they are.
      __m256d moved[kPathCount][kHalves];
      __m256d outside = _mm256_setzero_pd();
#pragma GCC unroll 5
      for (int p = 0; p < kPathCount; ++p) {
#pragma GCC unroll 2
        for (int h = 0; h < kHalves; ++h) {
          moved[p][h] = _mm256_mul_pd(price[p][h], factor[h][p == kBasePath ? 0 : 1]);
          const __m256d ratio = _mm256_mul_pd(inverse[p][h], moved[p][h]);
          outside = _mm256_or_pd(outside, _mm256_or_pd(_mm256_cmp_pd(ratio, upper, _CMP_GT_OQ),
                                                       _mm256_cmp_pd(ratio, lower, _CMP_LT_OQ)));
        }
      }
      if (_mm256_movemask_pd(outside) != 0) {
#pragma GCC unroll 5
        for (int p = 0; p < kPathCount; ++p) {
#pragma GCC unroll 2
          for (int h = 0; h < kHalves; ++h) {
            __m256d x = moved[p][h];
            const __m256d ratio = _mm256_mul_pd(inverse[p][h], x);
            const __m256d above = _mm256_cmp_pd(ratio, upper, _CMP_GT_OQ);
            // A ratio above the band is not below it, so after capping only capHighFalls
            // decides the second test.
            const __m256d below = _mm256_or_pd(_mm256_cmp_pd(ratio, lower, _CMP_LT_OQ),
                                               _mm256_and_pd(above, capHighFalls[p][h]));
            x = _mm256_blendv_pd(x, capHigh[p][h], above);
            moved[p][h] = _mm256_blendv_pd(x, capLow[p][h], below);
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
        for (int h = 0; h < kHalves; ++h) _mm256_storeu_pd(&block.dayBefore[p][4 * h], price[p][h]);
      }
    }
  }
  for (int p = 0; p < kPathCount; ++p) {
    for (int h = 0; h < kHalves; ++h) _mm256_storeu_pd(&block.terminal[p][4 * h], price[p][h]);
  }
}
