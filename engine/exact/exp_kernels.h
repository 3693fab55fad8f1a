// e^(x - shift) for each x of a list, by one formula written out in IEEE double operations
// (no library call), so that the loop over the list runs in SIMD lanes and gives the same bytes
// in any width: the scalar, AVX2 and AVX-512 builds of it agree to the bit. Within 1 ulp of
// e^(x - shift) from -708 to 709 (e^709 above); 0 below -708 (a share of the largest weight no
// sum can see).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace empricer {

// out[i] = e^(in[i] - shift), i < n, on the widest kernel the processor has.
void expOfEach(const double* in, double shift, double* out, std::size_t n);
// The same on the scalar kernel: the reference the wide ones are tested against.
void expOfEachScalar(const double* in, double shift, double* out, std::size_t n);

// One value: 2^k e^r with k the nearest integer to y / ln 2 and r = y - k ln 2 in two parts
// (Cody and Waite), e^r by its Taylor polynomial of degree 13 (|r| <= 0.35: its remainder is
// below 2e-17), and 2^k written into the exponent's bits.
inline double expOne(double y) {
  constexpr double kLog2e = 1.4426950408889634074;
  constexpr double kLn2High = 6.93147180369123816490e-01;  // 32 bits: k ln2High is exact
  constexpr double kLn2Low = 1.90821492927058770002e-10;
  constexpr double kRound = 6755399441055744.0;  // 1.5 x 2^52: adding it rounds to an integer
  const double low = y < -708.0 ? -708.0 : y;
  const double x = low > 709.0 ? 709.0 : low;
  const double t = x * kLog2e + kRound;
  const double k = t - kRound;
  const double r = (x - k * kLn2High) - k * kLn2Low;
  double p = 1.0 / 6227020800.0;  // 1/13!
  p = p * r + 1.0 / 479001600.0;
  p = p * r + 1.0 / 39916800.0;
  p = p * r + 1.0 / 3628800.0;
  p = p * r + 1.0 / 362880.0;
  p = p * r + 1.0 / 40320.0;
  p = p * r + 1.0 / 5040.0;
  p = p * r + 1.0 / 720.0;
  p = p * r + 1.0 / 120.0;
  p = p * r + 1.0 / 24.0;
  p = p * r + 1.0 / 6.0;
  p = p * r + 0.5;
  p = p * r + 1.0;
  p = p * r + 1.0;
  // t's low bits hold 2^51 + k; (that + 1023) << 52 is 2^k's bits for -1022 <= k <= 1023.
  const std::uint64_t bits = (std::bit_cast<std::uint64_t>(t) + 1023) << 52;
  const double result = p * std::bit_cast<double>(bits);
  return y < -708.0 ? 0.0 : result;
}

}  // namespace empricer
