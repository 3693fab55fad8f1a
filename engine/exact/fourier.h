// The discrete Fourier transform of a power-of-two length, in place, for convolutions of
// probability masses: forward with e^(-2 pi i jk/n), inverse with e^(+2 pi i jk/n) and no 1/n.
#pragma once

#include <complex>
#include <cstdint>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
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

// One radix-2 pass of length 2 x `half` over `count` complex values (real and imaginary parts
// interleaved in `d`), with the pass's roots e^(-2 pi i k / (2 half)) (conjugated when
// `inverse`): in lanes where half >= 4, else one butterfly at a time (passOneByOne, the
// reference, whose bytes the lanes give).
void radixTwoPass(double* d, std::size_t count, const std::complex<double>* roots,
                  std::size_t half, bool inverse);
void passOneByOne(double* d, std::size_t count, const std::complex<double>* roots,
                  std::size_t half, bool inverse);

// Transforms by length, each made when first asked for and kept: a caller that transforms often
// shares them (between threads too) rather than working out the roots each time.
class FourierTransforms {
 public:
  const FourierTransform& of(std::size_t size);

 private:
  std::mutex mutex_;
  std::map<std::size_t, std::unique_ptr<FourierTransform>> kept_;
};

// The smallest power of two at or above `n` (at least 1).
std::size_t powerOfTwoAtLeast(std::size_t n);

}  // namespace empricer

namespace empricer {

// The transform of real data of a power-of-two length n >= 4 through one complex transform of
// length n / 2: the even samples as real parts, the odd as imaginary parts, split after. The
// spectrum of real data is Hermitian, so its terms 0..n/2 are kept (n / 2 + 1 of them).
class RealFourierTransform {
 public:
  explicit RealFourierTransform(std::size_t size);
  std::size_t size() const { return size_; }
  // The spectrum of `data` (at most n values, the rest 0).
  void forward(const std::vector<double>& data, std::vector<std::complex<double>>& spectrum) const {
    std::vector<std::complex<double>> work;
    forward(data, spectrum, work);
  }
  // The same with `work` as the transform's room (kept by a caller that transforms often, so
  // that no call allocates).
  void forward(const std::vector<double>& data, std::vector<std::complex<double>>& spectrum,
               std::vector<std::complex<double>>& work) const;
  // n times the real data of a Hermitian spectrum (terms 0..n/2), its first `count` values.
  void inverse(std::vector<std::complex<double>>& spectrum, std::vector<double>& data,
               std::size_t count) const {
    std::vector<std::complex<double>> work;
    inverse(spectrum, data, count, work);
  }
  void inverse(std::vector<std::complex<double>>& spectrum, std::vector<double>& data,
               std::size_t count, std::vector<std::complex<double>>& work) const;

 private:
  // The complex transform of length n / 2, in place, of data already in bit-reversed order
  // (the callers place each value there as they make it): radix 2 with the first two
  // passes, whose roots are 1 and -i, written out.
  void half(std::vector<std::complex<double>>& data, bool inverse) const;
  std::size_t size_;
  std::vector<std::uint32_t> reversed_;         // each index's bit reversal
  std::vector<std::complex<double>> roots_;     // by pass of length L >= 8: e^(-2 pi i k/L)
  std::vector<std::complex<double>> twiddles_;  // e^(-2 pi i k/n), k < n/2
};

}  // namespace empricer
