#include "engine/fourier.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace empricer {

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
    const std::size_t half = length / 2;
    const std::complex<double>* roots = roots_.data() + pass;
    for (std::size_t start = 0; start < n; start += length) {
      for (std::size_t k = 0; k < half; ++k) {
        const std::complex<double> w = roots[k];
        const double wr = w.real();
        const double wi = inverse ? -w.imag() : w.imag();
        const std::complex<double> a = data[start + k];
        const std::complex<double> x = data[start + k + half];
        // Written out: the library's product checks for infinities on every call.
        const double br = x.real() * wr - x.imag() * wi;
        const double bi = x.real() * wi + x.imag() * wr;
        data[start + k] = {a.real() + br, a.imag() + bi};
        data[start + k + half] = {a.real() - br, a.imag() - bi};
      }
    }
  }
}

}  // namespace empricer
