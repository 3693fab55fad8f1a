// The discrete Fourier transform of a power-of-two length, in place, for convolutions of
// probability masses: forward with e^(-2 pi i jk/n), inverse with e^(+2 pi i jk/n) and no 1/n.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

namespace empricer {

class FourierTransform {
 public:
  // A transform of length `size`, a power of two.
  explicit FourierTransform(std::size_t size);
  std::size_t size() const { return size_; }
  void forward(std::vector<std::complex<double>>& data) const { run(data, false); }
  void inverse(std::vector<std::complex<double>>& data) const { run(data, true); }

 private:
  void run(std::vector<std::complex<double>>& data, bool inverse) const;
  std::size_t size_;
  // For each pass of length L = 2, 4, ..., n, its roots e^(-2 pi i k/L), k < L/2, one after
  // another, so that a pass reads its roots in order.
  std::vector<std::complex<double>> roots_;
};

// The smallest power of two at or above `n` (at least 1).
std::size_t powerOfTwoAtLeast(std::size_t n);

}  // namespace empricer
