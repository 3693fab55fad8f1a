#include "engine/exact/fourier.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <utility>

namespace empricer {

namespace {

// One radix-2 pass of length 2 x half (half >= 4) over `count` complex values (interleaved
// real and imaginary parts): b times its root, then a + b and a - b. Four butterflies at a
// time in lanes, each lane the same operations in the same order as one at a time
// (passOneByOne), so the same bytes: x - y is x + (-y), and a product's terms commute.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_ADDRESS__) && \
    !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("avx512f", "avx2", "default")))
#endif
void passInLanes(double* d, std::size_t count, const std::complex<double>* roots,
                 std::size_t half, bool inverse) {
  using Lanes = double __attribute__((vector_size(8 * sizeof(double))));
  const Lanes sign = {-1.0, 1.0, -1.0, 1.0, -1.0, 1.0, -1.0, 1.0};
  const double turn = inverse ? -1.0 : 1.0;
  const auto* w = reinterpret_cast<const double*>(roots);
  for (std::size_t start = 0; start < count; start += 2 * half) {
    double* a = d + 2 * start;
    double* b = d + 2 * (start + half);
    for (std::size_t k = 0; k < half; k += 4) {
      Lanes root;
      Lanes x;
      Lanes y;
      std::memcpy(&root, w + 2 * k, sizeof root);
      std::memcpy(&x, b + 2 * k, sizeof x);
      std::memcpy(&y, a + 2 * k, sizeof y);
      const Lanes wr = __builtin_shufflevector(root, root, 0, 0, 2, 2, 4, 4, 6, 6);
      const Lanes wi = __builtin_shufflevector(root, root, 1, 1, 3, 3, 5, 5, 7, 7) * turn;
      const Lanes swapped = __builtin_shufflevector(x, x, 1, 0, 3, 2, 5, 4, 7, 6);
      // (xr wr - xi wi, xi wr + xr wi)
      const Lanes t = x * wr + sign * (swapped * wi);
      const Lanes sum = y + t;
      const Lanes difference = y - t;
      std::memcpy(a + 2 * k, &sum, sizeof sum);
      std::memcpy(b + 2 * k, &difference, sizeof difference);
    }
  }
}

}  // namespace

void passOneByOne(double* d, std::size_t count, const std::complex<double>* roots,
                  std::size_t half, bool inverse) {
  for (std::size_t start = 0; start < count; start += 2 * half) {
    double* a = d + 2 * start;
    double* b = d + 2 * (start + half);
    for (std::size_t k = 0; k < half; ++k) {
      const double wr = roots[k].real();
      const double wi = inverse ? -roots[k].imag() : roots[k].imag();
      const double xr = b[2 * k], xi = b[2 * k + 1];
      // Written out: the library's product checks for infinities on every call.
      const double br = xr * wr - xi * wi;
      const double bi = xr * wi + xi * wr;
      const double ar = a[2 * k], ai = a[2 * k + 1];
      a[2 * k] = ar + br;
      a[2 * k + 1] = ai + bi;
      b[2 * k] = ar - br;
      b[2 * k + 1] = ai - bi;
    }
  }
}

void radixTwoPass(double* d, std::size_t count, const std::complex<double>* roots,
                  std::size_t half, bool inverse) {
  if (half >= 4) {
    passInLanes(d, count, roots, half, inverse);
  } else {
    passOneByOne(d, count, roots, half, inverse);
  }
}

const FourierTransform& FourierTransforms::of(std::size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& slot = kept_[size];
  if (slot == nullptr) slot = std::make_unique<FourierTransform>(size);
  return *slot;
}

std::size_t powerOfTwoAtLeast(std::size_t n) {
  std::size_t size = 1;
  while (size < n) size <<= 1;
  return size;
}

FourierTransform::FourierTransform(std::size_t size) : size_(size) {
  // Each root from its own angle, so that no error builds up along the table; the passes'
  // roots are every (n / L)-th of the longest pass's.
  std::vector<std::complex<double>> longest(size / 2);
  for (std::size_t k = 0; k < size / 2; ++k) {
    const double angle = -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(size);
    longest[k] = {std::cos(angle), std::sin(angle)};
  }
  roots_.reserve(size);
  for (std::size_t length = 2; length <= size; length <<= 1) {
    for (std::size_t k = 0; k < length / 2; ++k) roots_.push_back(longest[k * (size / length)]);
  }
}

void FourierTransform::run(std::vector<std::complex<double>>& data, bool inverse) const {
  const std::size_t n = size_;
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; (j & bit) != 0; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(data[i], data[j]);
  }
  std::size_t pass = 0;  // where the pass's roots begin
  for (std::size_t length = 2; length <= n; pass += length / 2, length <<= 1) {
    radixTwoPass(reinterpret_cast<double*>(data.data()), n, roots_.data() + pass, length / 2,
                 inverse);
  }
}

}  // namespace empricer

namespace empricer {

RealFourierTransform::RealFourierTransform(std::size_t size)
    : size_(size), twiddles_(size / 2) {
  for (std::size_t k = 0; k < size / 2; ++k) {
    const double angle = -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(size);
    twiddles_[k] = {std::cos(angle), std::sin(angle)};
  }
  const std::size_t h = size / 2;
  reversed_.assign(h, 0);
  for (std::size_t i = 1, j = 0; i < h; ++i) {
    std::size_t bit = h >> 1;
    for (; (j & bit) != 0; bit >>= 1) j ^= bit;
    j ^= bit;
    reversed_[i] = static_cast<std::uint32_t>(j);
  }
  // A pass of length L takes every (n / L)-th of the twiddles e^(-2 pi i k/n): e^(-2 pi i k/L).
  for (std::size_t length = 8; length <= h; length <<= 1) {
    for (std::size_t k = 0; k < length / 2; ++k) roots_.push_back(twiddles_[k * (size / length)]);
  }
}

void RealFourierTransform::half(std::vector<std::complex<double>>& data, bool inverse) const {
  const std::size_t n = size_ / 2;
  auto* d = reinterpret_cast<double*>(data.data());
  if (n >= 2) {
    for (std::size_t i = 0; i < 2 * n; i += 4) {
      const double ar = d[i], ai = d[i + 1], br = d[i + 2], bi = d[i + 3];
      d[i] = ar + br;
      d[i + 1] = ai + bi;
      d[i + 2] = ar - br;
      d[i + 3] = ai - bi;
    }
  }
  if (n >= 4) {
    // Length 4: the roots 1 and -i (+i for the inverse).
    const double sign = inverse ? -1.0 : 1.0;
    for (std::size_t i = 0; i < 2 * n; i += 8) {
      const double ar = d[i], ai = d[i + 1], br = d[i + 2], bi = d[i + 3];
      const double cr = d[i + 4], ci = d[i + 5], er = d[i + 6], ei = d[i + 7];
      // e times -i (forward): (ei, -er).
      const double tr = sign * ei;
      const double ti = -sign * er;
      d[i] = ar + cr;
      d[i + 1] = ai + ci;
      d[i + 4] = ar - cr;
      d[i + 5] = ai - ci;
      d[i + 2] = br + tr;
      d[i + 3] = bi + ti;
      d[i + 6] = br - tr;
      d[i + 7] = bi - ti;
    }
  }
  std::size_t pass = 0;
  for (std::size_t length = 8; length <= n; pass += length / 2, length <<= 1) {
    radixTwoPass(d, n, roots_.data() + pass, length / 2, inverse);
  }
}

void RealFourierTransform::forward(const std::vector<double>& data,
                                   std::vector<std::complex<double>>& spectrum,
                                   std::vector<std::complex<double>>& work) const {
  const std::size_t h = size_ / 2;
  // The pairs of samples go straight to their places in the bit-reversed order.
  work.assign(h, {0.0, 0.0});
  const std::size_t pairs = std::min(data.size(), size_) / 2;
  for (std::size_t j = 0; j < pairs; ++j) work[reversed_[j]] = {data[2 * j], data[2 * j + 1]};
  if (data.size() < size_ && data.size() % 2 == 1) work[reversed_[pairs]] = {data[2 * pairs], 0.0};
  half(work, false);
  // X_k = E_k + W^k O_k, with E_k = (Z_k + conj Z_(h-k)) / 2 and O_k = (Z_k - conj Z_(h-k)) / 2i;
  // the products written out, as in the transform.
  spectrum.resize(h + 1);
  const auto* z = reinterpret_cast<const double*>(work.data());
  const auto* w = reinterpret_cast<const double*>(twiddles_.data());
  auto* x = reinterpret_cast<double*>(spectrum.data());
  // Term k from Z_k and Z_(h-k) (Z_0 for both ends), with the twiddle (wr, wi); in doubles,
  // which the compiler keeps in registers.
  auto term = [&](std::size_t k, std::size_t at, std::size_t mirror, double wr, double wi) {
    const double zr = z[2 * at];
    const double zi = z[2 * at + 1];
    const double cr = z[2 * mirror];  // conjugated below
    const double ci = z[2 * mirror + 1];
    const double er = 0.5 * (zr + cr);
    const double ei = 0.5 * (zi - ci);
    // (z - conj c) / 2i
    const double dr = 0.5 * (zr - cr);
    const double di = 0.5 * (zi + ci);
    const double orr = di;
    const double oi = -dr;
    x[2 * k] = er + (wr * orr - wi * oi);
    x[2 * k + 1] = ei + (wr * oi + wi * orr);
  };
  term(0, 0, 0, w[0], w[1]);
  for (std::size_t k = 1; k < h; ++k) term(k, k, h - k, w[2 * k], w[2 * k + 1]);
  term(h, 0, 0, -1.0, 0.0);
}

void RealFourierTransform::inverse(std::vector<std::complex<double>>& spectrum,
                                   std::vector<double>& data, std::size_t count,
                                   std::vector<std::complex<double>>& work) const {
  const std::size_t h = size_ / 2;
  work.resize(h);
  // E_k = (X_k + conj X_(h-k)) / 2, O_k = (X_k - conj X_(h-k)) / (2 W^k); Z_k = E_k + i O_k.
  const auto* x = reinterpret_cast<const double*>(spectrum.data());
  const auto* w = reinterpret_cast<const double*>(twiddles_.data());
  auto* z = reinterpret_cast<double*>(work.data());
  for (std::size_t k = 0; k < h; ++k) {
    const double xr = x[2 * k];
    const double xi = x[2 * k + 1];
    const double cr = x[2 * (h - k)];  // conjugated below
    const double ci = x[2 * (h - k) + 1];
    const double er = 0.5 * (xr + cr);
    const double ei = 0.5 * (xi - ci);
    const double dr = 0.5 * (xr - cr);
    const double di = 0.5 * (xi + ci);
    // times conj W^k
    const double wr = w[2 * k];
    const double wi = -w[2 * k + 1];
    const double orr = dr * wr - di * wi;
    const double oi = dr * wi + di * wr;
    const std::size_t at = reversed_[k];  // in the bit-reversed order the passes take
    z[2 * at] = er - oi;
    z[2 * at + 1] = ei + orr;
  }
  half(work, true);
  data.resize(count);
  const std::size_t pairs = count / 2;
  for (std::size_t j = 0; j < pairs; ++j) {
    data[2 * j] = 2.0 * work[j].real();
    data[2 * j + 1] = 2.0 * work[j].imag();
  }
  if (count % 2 == 1) data[count - 1] = 2.0 * work[pairs].real();
}

}  // namespace empricer
