#include "engine/exact/exact_law.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstring>
#include <limits>
#include <numbers>
#include <optional>

#include "engine/valuation/constants.h"
#include "engine/exact/fourier.h"

namespace empricer {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// The mass left outside a terminal window, on each side, is below this.
constexpr double kWindowTail = 1e-18;

double logBandLow() { return std::log(kLowerBand); }
double logBandHigh() { return std::log(kUpperBand); }

// The masses times e^x of the day's nodes, and E[e^X] and Var[e^X] of the day.
void expMoments(DayLaw& day) {
  std::vector<double> growth(day.mass.size());
  day.tilted.resize(day.mass.size());
  double sum = 0.0;
  for (std::size_t j = 0; j < day.mass.size(); ++j) {
    growth[j] = std::exp(day.low + static_cast<double>(j) * day.spacing);
    day.tilted[j] = day.mass[j] * growth[j];
    sum += day.tilted[j];
  }
  double squares = 0.0;
  for (std::size_t j = 0; j < day.mass.size(); ++j) {
    const double d = growth[j] - sum;
    squares += day.mass[j] * d * d;
  }
  day.expMean = sum;
  // The signed masses of the cubic split can make a variance of 0 a rounding below it.
  day.expVariance = squares < 0.0 ? 0.0 : squares;
}

// The day's mean and log E e^(l (X - mean)) for l = +-1 to +-1e5 in steps of a half.
void logMoments(DayLaw& day) {
  day.mean = 0.0;
  for (std::size_t j = 0; j < day.mass.size(); ++j) {
    day.mean += day.mass[j] * (day.low + static_cast<double>(j) * day.spacing);
  }
  std::vector<double> centred(day.mass.size());
  double lowest = kInfinity;
  double highest = -kInfinity;
  for (std::size_t j = 0; j < day.mass.size(); ++j) {
    centred[j] = day.low + static_cast<double>(j) * day.spacing - day.mean;
    if (day.mass[j] > 0.0) {
      lowest = std::min(lowest, centred[j]);
      highest = std::max(highest, centred[j]);
    }
  }
  for (double lambda = 1.0; lambda <= 1e5; lambda *= 1.5) {
    double sums[2] = {0.0, 0.0};
    // With the largest exponent taken out: l x highest above, -l x lowest below.
    for (std::size_t j = 0; j < day.mass.size(); ++j) {
      if (!(day.mass[j] > 0.0)) continue;
      sums[0] += day.mass[j] * std::exp(lambda * (centred[j] - highest));
      sums[1] += day.mass[j] * std::exp(-lambda * (centred[j] - lowest));
    }
    day.lambda.push_back(lambda);
    day.logMomentAbove.push_back(lambda * highest + std::log(sums[0]));
    day.logMomentBelow.push_back(-lambda * lowest + std::log(sums[1]));
  }
}

std::complex<double> times(std::complex<double> a, std::complex<double> b) {
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

std::complex<double> power(std::complex<double> base, int exponent) {
  std::complex<double> result{1.0, 0.0};
  while (exponent > 0) {
    if ((exponent & 1) != 0) result = times(result, base);
    base = times(base, base);
    exponent >>= 1;
  }
  return result;
}

}  // namespace

std::vector<double> sortedReturns(const DrawTable& draws) {
  std::vector<double> returns(std::begin(draws.returnFor), std::end(draws.returnFor));
  // NaN has no place in an order: it is kept apart, at the end.
  const auto numbers = std::partition(returns.begin(), returns.end(),
                                      [](double w) { return !std::isnan(w); });
  std::sort(returns.begin(), numbers);
  return returns;
}

StepLaw stepLaw(const std::vector<double>& returns, PathKind kind, double growth,
                const StepTilt& tilt) {
  StepLaw law;
  // Both step factors rise with the return (rounding keeps the order), so the sorted returns
  // give the log factors in order; equal neighbours are one step.
  std::vector<double> steps(returns.size());
  for (std::size_t r = 0; r < returns.size(); ++r) {
    const double w = returns[r];
    const double factor = kind == PathKind::base ? 1.0 + w : w + growth;
    if (std::isnan(factor)) {
      law.defined = false;
      return law;
    }
    // A factor of 0 or below takes the price to or past 0, below any band.
    steps[r] = factor > 0.0 ? std::log(factor) : -kInfinity;
  }
  // Each return's weight: 1 / n, or under a tilt its share of the tilted weights (the largest
  // exponent taken out). Returns whose factors round to one value are one step.
  const double one = 1.0 / static_cast<double>(returns.size());
  std::vector<double> tilted;
  if (!tilt.none()) {
    double top = -kInfinity;
    for (const double w : returns) top = std::max(top, tilt.logWeight(w));
    tilted.resize(returns.size());
    double total = 0.0;
    for (std::size_t r = 0; r < returns.size(); ++r) {
      tilted[r] = std::exp(tilt.logWeight(returns[r]) - top);
      total += tilted[r];
    }
    for (double& w : tilted) w /= total;
  }
  for (std::size_t i = 0; i < steps.size();) {
    std::size_t j = i;
    while (j < steps.size() && steps[j] == steps[i]) ++j;
    law.logStep.push_back(steps[i]);
    if (tilted.empty()) {
      law.probability.push_back(static_cast<double>(j - i) * one);
    } else {
      double p = 0.0;
      for (std::size_t k = i; k < j; ++k) p += tilted[k];
      law.probability.push_back(p);
    }
    i = j;
  }
  return law;
}

StepLaw stepLaw(const DrawTable& draws, PathKind kind, double growth) {
  return stepLaw(sortedReturns(draws), kind, growth);
}

namespace {

// One step of the walk from every node at once. A step s from node i lands at
// t = i + s / spacing (in spacings from node 0): on or beyond an end it is held there, a point
// mass; otherwise it splits between floor(t) and floor(t) + 1 keeping its mean. The steps are
// grouped by floor(s / spacing) = k into the mass that stays at i + k (`stay`), the mass that
// moves on to i + k + 1 (`next`) and the mass of steps that land exactly on i + k (`exact`);
// one convolution of the three together gives every node strictly inside, and the few sums
// at and beyond the ends sort what lands there into point masses and nodes.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_ADDRESS__) && \
    !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("avx512f", "avx2", "default")))
#endif
void convolve(const double* from, int count, const double* kernel, int width, double* into) {
  // into[j] = sum over k of kernel[k] x from[j - k], the terms taken in the order of k (the
  // same sums as adding kernel[k] x from onto `into` for one k after another). Eight outputs
  // at a time where every k has its term: each is summed in a register, not in memory.
  constexpr int kBlock = 8;
  const int outputs = count + width - 1;
  auto single = [&](int j) {
    double sum = 0.0;
    const int lowest = std::max(0, j - (count - 1));
    const int highest = std::min(width - 1, j);
    for (int k = lowest; k <= highest; ++k) sum += kernel[k] * from[j - k];
    into[j] = sum;
  };
  int j = 0;
  for (; j < std::min(width - 1, outputs); ++j) single(j);
  using Block = double __attribute__((vector_size(kBlock * sizeof(double))));
  // `Blocks` blocks side by side from output j: independent sums hide the adder's latency.
  auto blocks = [&]<int Blocks>() {
    Block sum[Blocks] = {};
    for (int k = 0; k < width; ++k) {
      const double q = kernel[k];
      for (int b = 0; b < Blocks; ++b) {
        Block terms;
        std::memcpy(&terms, from + (j + b * kBlock - k), sizeof terms);
        sum[b] += q * terms;
      }
    }
    std::memcpy(into + j, sum, sizeof sum);
    j += Blocks * kBlock;
  };
  while (j + 4 * kBlock - 1 <= count - 1) blocks.template operator()<4>();
  while (j + kBlock - 1 <= count - 1) blocks.template operator()<1>();
  for (; j < outputs; ++j) single(j);
}

// The step's kernel on the lattice of spacing h between ends `width` apart (see convolve):
// the steps that land on an end from every node are held apart, in alwaysLow and alwaysHigh.
struct StepKernel {
  double alwaysLow = 0.0;
  double alwaysHigh = 0.0;
  int first = 0;  // the kernel's offsets: first to first + span - 1
  int last = -1;
  int span = 0;
  std::vector<double> stay;
  std::vector<double> next;
  std::vector<double> exact;
  // The same steps split over four nodes (offsets first - 1 to last + 1) so that the first
  // three moments are kept as well as the mass and the mean: for the walk away from the ends.
  std::vector<double> cubic;
  // Its parts by the steps' floor(s / h) = k (index k - first): the weights at k - 1 to k + 2.
  std::vector<double> cubicParts[4];
};

// The weights at nodes k - 1, k, k + 1 and k + 2 of a point at k + theta (0 <= theta < 1)
// whose mass and first three moments they keep: cubic interpolation's.
void cubicSplit(double theta, double p, double* at) {
  const double below = theta + 1.0;
  const double above = theta - 1.0;
  const double further = theta - 2.0;
  at[0] += p * (-(theta * above * further) / 6.0);
  at[1] += p * (below * above * further / 2.0);
  at[2] += p * (-(below * theta * further) / 2.0);
  at[3] += p * (below * theta * above / 6.0);
}

StepKernel stepKernel(const StepLaw& steps, double h, double width) {
  StepKernel kernel;
  for (std::size_t a = 0; a < steps.logStep.size(); ++a) {
    const double s = steps.logStep[a];
    if (s <= -width) {
      kernel.alwaysLow += steps.probability[a];
    } else if (s >= width) {
      kernel.alwaysHigh += steps.probability[a];
    } else {
      const int k = static_cast<int>(std::floor(s / h));
      if (kernel.last < kernel.first) kernel.first = kernel.last = k;
      kernel.first = std::min(kernel.first, k);
      kernel.last = std::max(kernel.last, k + 1);
    }
  }
  kernel.span = kernel.last - kernel.first + 1;
  const auto size = static_cast<std::size_t>(std::max(kernel.span, 0));
  kernel.stay.assign(size, 0.0);
  kernel.next.assign(size, 0.0);
  kernel.exact.assign(size, 0.0);
  for (std::size_t a = 0; a < steps.logStep.size(); ++a) {
    const double s = steps.logStep[a];
    if (s <= -width || s >= width) continue;
    const double t = s / h;
    const double below = std::floor(t);
    const auto k = static_cast<std::size_t>(static_cast<int>(below) - kernel.first);
    const double theta = t - below;
    const double p = steps.probability[a];
    if (theta == 0.0) {
      kernel.exact[k] += p;
    } else {
      kernel.stay[k] += p * (1.0 - theta);
      kernel.next[k + 1] += p * theta;
    }
    if (kernel.cubic.empty()) {
      kernel.cubic.assign(size + 2, 0.0);
      for (std::vector<double>& part : kernel.cubicParts) part.assign(size, 0.0);
    }
    double weights[4] = {0.0, 0.0, 0.0, 0.0};
    if (theta == 0.0) {
      weights[1] = p;
    } else {
      cubicSplit(theta, p, weights);
    }
    for (std::size_t j = 0; j < 4; ++j) {
      kernel.cubic[k + j] += weights[j];
      kernel.cubicParts[j][k] += weights[j];
    }
  }
  return kernel;
}

// The nodes' masses before the day's first step: the walk starts at the anchor, log ratio 0,
// split over its four nearest nodes as a step away from the ends is (over two on a lattice too
// coarse for four).
std::vector<double> startingMass(const DayLaw& day) {
  const int n = day.intervals;
  std::vector<double> mass(static_cast<std::size_t>(n) + 1, 0.0);
  const double t = -day.low / day.spacing;
  const double below = std::floor(t);
  const auto k = static_cast<std::size_t>(below);
  if (k >= 2 && k + 3 <= static_cast<std::size_t>(n)) {
    cubicSplit(t - below, 1.0, &mass[k - 1]);
    return mass;
  }
  mass[k] += 1.0 - (t - below);
  if (k + 1 <= static_cast<std::size_t>(n)) mass[k + 1] += t - below;
  return mass;
}

// The convolution's outputs to the nodes: output j is node j + first, up to node n + last;
// below node 0 to the lower end, above n to the upper, the inner nodes as they are (the end
// nodes are left alone).
void settleOutputs(int first, int last, const std::vector<double>& out, std::vector<double>& mass,
                   double& toLow, double& toHigh) {
  const int n = static_cast<int>(mass.size()) - 1;
  const int outputs = n + last - first + 1;
  for (int j = 0; j < std::min(-first, outputs); ++j) toLow += out[static_cast<std::size_t>(j)];
  for (int j = std::max(n + 1 - first, 0); j < outputs; ++j) {
    toHigh += out[static_cast<std::size_t>(j)];
  }
  const int innerFrom = std::max(1 - first, 0);
  const int innerTo = std::min(n - 1 - first, outputs - 1);
  if (innerFrom <= innerTo) {
    std::copy(out.begin() + innerFrom, out.begin() + innerTo + 1,
              mass.begin() + (innerFrom + first));
  }
  if (first > 0) std::fill(mass.begin() + 1, mass.begin() + std::min(first, n), 0.0);
  if (last < 0) std::fill(mass.begin() + std::max(n + last + 1, 1), mass.end() - 1, 0.0);
}

// The steps that land within two nodes of an end (floor of the landing L from -2 to 1, or
// from n - 2 to n + 1), taken out of the cubic convolution in `out` (output j is node
// j + first - 1) and put back as the walk near the ends goes: a landing between two nodes
// splits between them keeping its mean; one on or beyond an end is held there (toLow, toHigh);
// the part of a landing inside that falls on an end node is that node's (atZero, atTop).
void landNearTheEnds(const StepKernel& kernel, const std::vector<double>& mass,
                     std::vector<double>& out, double& toLow, double& toHigh, double& atZero,
                     double& atTop) {
  const int n = static_cast<int>(mass.size()) - 1;
  const int first = kernel.first;
  auto at = [&](int node) -> double& { return out[static_cast<std::size_t>(node - first + 1)]; };
  for (const int landing : {-2, -1, 0, 1, n - 2, n - 1, n, n + 1}) {
    for (int k = first; k < kernel.last; ++k) {
      const int from = landing - k;
      if (from < 0 || from > n) continue;
      const double m = mass[static_cast<std::size_t>(from)];
      if (m == 0.0) continue;
      const auto i = static_cast<std::size_t>(k - first);
      for (int j = 0; j < 4; ++j) at(landing - 1 + j) -= m * kernel.cubicParts[j][i];
      const double stay = m * kernel.stay[i];
      const double next = m * kernel.next[i + 1];
      const double exact = m * kernel.exact[i];
      if (landing < 0) {
        toLow += stay + next + exact;
      } else if (landing == 0) {
        toLow += exact;
        atZero += stay;
        at(1) += next;
      } else if (landing >= n) {
        toHigh += stay + next + exact;
      } else if (landing == n - 1) {
        at(n - 1) += stay + exact;
        atTop += next;
      } else {
        at(landing) += stay + exact;
        at(landing + 1) += next;
      }
    }
  }
}

// One step of the walk from every node at once: `mass` after it, `out` the convolution's room
// (mass.size() + span + 2). atomLow and atomHigh: the parts of the end nodes' masses held there
// by this step.
void walkStep(const StepKernel& kernel, std::vector<double>& mass, std::vector<double>& out,
              double& atomLow, double& atomHigh) {
  const int n = static_cast<int>(mass.size()) - 1;
  double total = 0.0;
  if (kernel.alwaysLow > 0.0 || kernel.alwaysHigh > 0.0) {
    for (double m : mass) total += m;
  }
  double toLow = kernel.alwaysLow * total;
  double toHigh = kernel.alwaysHigh * total;
  double atZero = 0.0;
  double atTop = 0.0;
  if (kernel.span > 0) {
    convolve(mass.data(), n + 1, kernel.cubic.data(), kernel.span + 2, out.data());
    landNearTheEnds(kernel, mass, out, toLow, toHigh, atZero, atTop);
    settleOutputs(kernel.first - 1, kernel.last + 1, out, mass, toLow, toHigh);
  } else {
    std::fill(mass.begin(), mass.end(), 0.0);
  }
  mass[0] = atZero + toLow;
  mass[static_cast<std::size_t>(n)] = atTop + toHigh;
  atomLow = toLow;
  atomHigh = toHigh;
}

// The day of a step law of one value: every step moves the log ratio by `step`, held in the
// band after each.
DayLaw certainDay(DayLaw day, double step, int stepsPerDay) {
  double at = 0.0;
  for (int k = 0; k < stepsPerDay; ++k) at = std::min(std::max(at + step, day.low), day.high);
  day.certain = true;
  day.certainAt = at;
  day.mean = at;
  day.expMean = std::exp(at);
  return day;
}

// Whether the walk cannot come within `margin` of either end of the band in a day but with a
// probability below kUnreached: by Doob's inequality for e^(l x) over the day's partial sums,
// P(max >= a) <= max(1, M(l))^N e^(-l a), N the steps of a day, M the moment function of the two-node split (a
// spread of every step, so its M is at least the walk's), least over l.
constexpr double kUnreached = 1e-20;

bool bandUnreached(const StepKernel& kernel, double h, double low, double high, double margin,
                   int stepsPerDay) {
  if (kernel.alwaysLow > 0.0 || kernel.alwaysHigh > 0.0 || kernel.span <= 0) return false;
  const double reach[2] = {high - margin, -low - margin};
  if (!(reach[0] > 0.0 && reach[1] > 0.0)) return false;
  for (int side = 0; side < 2; ++side) {
    const double sign = side == 0 ? 1.0 : -1.0;
    double best = 0.0;  // the log of the least bound
    for (double lambda = 1.0; lambda <= 1e6; lambda *= 1.25) {
      double moment = 0.0;
      for (int k = 0; k < kernel.span; ++k) {
        const double x = static_cast<double>(kernel.first + k) * h;
        const double mass = kernel.stay[static_cast<std::size_t>(k)] +
                            kernel.next[static_cast<std::size_t>(k)] +
                            kernel.exact[static_cast<std::size_t>(k)];
        if (mass > 0.0) moment += mass * std::exp(sign * lambda * x);
      }
      const double bound = stepsPerDay * std::max(0.0, std::log(moment)) - lambda * reach[side];
      best = std::min(best, bound);
    }
    if (!(best < std::log(kUnreached))) return false;
  }
  return true;
}

// The day of a walk that does not reach the band: the start's masses convolved N times with
// the cubic kernel, by Fourier transform, on a period long enough that what wraps round is
// below the bound too. Masses below kNoMass of the largest are rounding, and 0.
constexpr double kNoMass = 1e-25;

std::vector<double> unclippedDay(const StepKernel& kernel, const std::vector<double>& start,
                                 int stepsPerDay) {
  const std::size_t nodes = start.size();
  // What the period folds onto the other end is beyond an end: below the bound too.
  const std::size_t size = powerOfTwoAtLeast(nodes);
  std::vector<std::complex<double>> walk(size, {0.0, 0.0});
  std::vector<std::complex<double>> step(size, {0.0, 0.0});
  for (std::size_t i = 0; i < nodes; ++i) walk[i] = {start[i], 0.0};
  const auto period = static_cast<std::int64_t>(size);
  for (std::size_t k = 0; k < kernel.cubic.size(); ++k) {
    const std::int64_t offset = kernel.first - 1 + static_cast<std::int64_t>(k);
    step[static_cast<std::size_t>(((offset % period) + period) % period)] += kernel.cubic[k];
  }
  const FourierTransform fourier(size);
  fourier.forward(walk);
  fourier.forward(step);
  for (std::size_t i = 0; i < size; ++i) walk[i] = times(walk[i], power(step[i], stepsPerDay));
  fourier.inverse(walk);
  std::vector<double> mass(nodes);
  double largest = 0.0;
  const double scale = 1.0 / static_cast<double>(size);
  for (std::size_t i = 0; i < nodes; ++i) {
    mass[i] = walk[i].real() * scale;
    largest = std::max(largest, std::fabs(mass[i]));
  }
  for (double& m : mass) {
    if (std::fabs(m) < kNoMass * largest) m = 0.0;
  }
  return mass;
}

}  // namespace

DayLaw dayLaw(const StepLaw& steps, int intervals, int stepsPerDay, bool walked,
              const WorkWatch* watch) {
  DayLaw day;
  day.intervals = intervals;
  day.low = logBandLow();
  day.high = logBandHigh();
  day.spacing = (day.high - day.low) / intervals;
  if (!steps.defined) {
    day.defined = false;
    return day;
  }
  if (steps.logStep.size() == 1) return certainDay(day, steps.logStep[0], stepsPerDay);
  const StepKernel kernel = stepKernel(steps, day.spacing, day.high - day.low);
  std::vector<double> mass = startingMass(day);
  // Two nodes at each end are where the walk near the ends differs; a step more is margin.
  const double margin = 4.0 * day.spacing;
  if (!walked && bandUnreached(kernel, day.spacing, day.low, day.high, margin, stepsPerDay)) {
    day.mass = unclippedDay(kernel, mass, stepsPerDay);
    expMoments(day);
    logMoments(day);
    return day;
  }
  std::vector<double> out(mass.size() + kernel.stay.size() + 2, 0.0);
  for (int step = 0; step < stepsPerDay; ++step) {
    if (watch != nullptr && !watch->goOn()) {
      day.defined = false;
      return day;
    }
    walkStep(kernel, mass, out, day.atomLow, day.atomHigh);
  }
  day.mass = std::move(mass);
  expMoments(day);
  logMoments(day);
  return day;
}

DayLaw dayLaw(const DrawTable& draws, PathKind kind, double growth, int intervals,
              int stepsPerDay) {
  return dayLaw(stepLaw(draws, kind, growth), intervals, stepsPerDay);
}

namespace {

// Half-widths of a window around days x mean outside which the mass of the sum is below
// kWindowTail on each side, by Chernoff's bound with the day law's own moment function:
// P(sum - days x mean > t) <= exp(-lambda t + days psi(lambda)).
void chernoffWindow(const DayLaw& day, int days, double& below, double& above) {
  const double logTail = std::log(kWindowTail);
  below = kInfinity;
  above = kInfinity;
  for (std::size_t i = 0; i < day.lambda.size(); ++i) {
    above = std::min(above, (days * day.logMomentAbove[i] - logTail) / day.lambda[i]);
    below = std::min(below, (days * day.logMomentBelow[i] - logTail) / day.lambda[i]);
  }
}



}  // namespace

namespace {

// The spectral form of a terminal law: the node masses m_j of the window (j from 0 to P - 1
// after `first`) have the discrete Fourier coefficients c_k = R_k e^(2 pi i first k / P),
// R_k the day law's transform at frequency k / P raised to the days, less that of the point
// masses. The tail sum from node J is then
//   T(J) = (c_0 (P - J) + 2 Re sum_k g_k - 2 Re sum_k g_k w^k) / P,
// g_k = c_k / (e^(2 pi i k / P) - 1), w = e^(2 pi i J / P), over k = 1 to K: the terms past K
// are dropped once 32 in a row are below kSpectralFloor of the total. When the law's
// transform does not fall that far by kSpectralTerms terms (point masses and the jumps of the
// density at the band's ends make it fall slowly for a few days), the masses are summed on
// the lattice instead.
constexpr double kSpectralFloor = 1e-13;
constexpr int kSpectralTerms = 512;
constexpr int kSpectralRun = 32;

using Spectrum = TerminalLaw::Spectrum;

// The spectra of the masses and of the masses times e^x (the tilted law, whose sum of days
// carries e^X) in one pass over the frequencies; false when either falls too slowly.
bool spectralTerms(const DayLaw& day, int days, std::int64_t first, std::int64_t period,
                   Spectrum& masses, Spectrum& tilted) {
  const std::size_t nodes = day.mass.size();
  const int n = day.intervals;
  double sum = 0.0;
  double tiltedSum = 0.0;
  for (std::size_t i = 0; i < nodes; ++i) {
    sum += day.mass[i];
    tiltedSum += day.tilted[i];
  }
  const double atoms[2][2] = {{day.atomLow, day.atomHigh},
                              {day.atomLow * std::exp(day.low), day.atomHigh * std::exp(day.high)}};
  const auto p = static_cast<double>(period);
  auto turn = [&](std::int64_t numerator) {  // e^(-2 pi i numerator / period)
    const double angle = -2.0 * std::numbers::pi * static_cast<double>(numerator % period) / p;
    return std::complex<double>(std::cos(angle), std::sin(angle));
  };
  // Only the nodes from the first to the last that hold mass add to the transforms.
  std::size_t from = 0;
  std::size_t to = nodes;
  while (from < to && day.mass[from] == 0.0 && day.tilted[from] == 0.0) ++from;
  while (to > from && day.mass[to - 1] == 0.0 && day.tilted[to - 1] == 0.0) --to;
  // e^(-2 pi i i' k / period) for each node i', as real and imaginary parts side by side.
  std::vector<double> rotationRe(nodes);
  std::vector<double> rotationIm(nodes);
  std::vector<double> phaseRe(nodes, 1.0);
  std::vector<double> phaseIm(nodes, 0.0);
  for (std::size_t i = from; i < to; ++i) {
    const std::complex<double> r = turn(static_cast<std::int64_t>(i));
    rotationRe[i] = r.real();
    rotationIm[i] = r.imag();
  }
  Spectrum* spectra[2] = {&masses, &tilted};
  const double full[2] = {std::pow(sum, days), std::pow(tiltedSum, days)};
  for (int t = 0; t < 2; ++t) {
    *spectra[t] = Spectrum{};
    spectra[t]->total = full[t] - std::pow(atoms[t][0] + atoms[t][1], days);
  }
  int quiet = 0;
  const std::int64_t limit = std::min<std::int64_t>(kSpectralTerms, (period - 1) / 2);
  for (std::int64_t k = 1; k <= limit; ++k) {
    double re = 0.0;
    double im = 0.0;
    double tiltedRe = 0.0;
    double tiltedIm = 0.0;
    for (std::size_t i = from; i < to; ++i) {
      const double a = phaseRe[i] * rotationRe[i] - phaseIm[i] * rotationIm[i];
      const double b = phaseRe[i] * rotationIm[i] + phaseIm[i] * rotationRe[i];
      phaseRe[i] = a;
      phaseIm[i] = b;
      re += day.mass[i] * a;
      im += day.mass[i] * b;
      tiltedRe += day.tilted[i] * a;
      tiltedIm += day.tilted[i] * b;
    }
    const std::complex<double> transform[2] = {{re, im}, {tiltedRe, tiltedIm}};
    const std::complex<double> top = turn(static_cast<std::int64_t>(n) * k);
    const std::complex<double> shift = std::conj(turn((first % period) * k));
    const std::complex<double> z = std::conj(turn(k));
    bool small = true;
    for (int t = 0; t < 2; ++t) {
      const std::complex<double> r =
          power(transform[t], days) - power(atoms[t][0] + atoms[t][1] * top, days);
      const std::complex<double> g = times(r, shift) / (z - 1.0);
      spectra[t]->terms.push_back(g);
      spectra[t]->constant += 2.0 * g.real();
      small = small && std::abs(r) < kSpectralFloor * full[t];
    }
    quiet = small ? quiet + 1 : 0;
    if (quiet >= kSpectralRun) return true;
  }
  return false;
}

// T(J) for J = at to at + 3 of both spectra of `law` (masses into tails, tilted into
// expTails): the same sums as spectralTail, their eight Horner chains side by side.
void spectralTails(const TerminalLaw& law, std::int64_t at, double* tails, double* expTails) {
  const std::vector<std::complex<double>>& g = law.masses.terms;
  const std::vector<std::complex<double>>& h = law.tilted.terms;
  const std::int64_t period = law.period;
  const auto p = static_cast<double>(period);
  double wRe[4];
  double wIm[4];
  for (int j = 0; j < 4; ++j) {
    const double angle = 2.0 * std::numbers::pi * static_cast<double>((at + j) % period) / p;
    wRe[j] = std::cos(angle);
    wIm[j] = std::sin(angle);
  }
  double re[8] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  double im[8] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  for (std::size_t k = g.size(); k-- > 0;) {
    for (int j = 0; j < 8; ++j) {
      const std::complex<double> term = j < 4 ? g[k] : h[k];
      const double a = re[j] + term.real();
      const double b = im[j] + term.imag();
      re[j] = a * wRe[j % 4] - b * wIm[j % 4];
      im[j] = a * wIm[j % 4] + b * wRe[j % 4];
    }
  }
  for (int j = 0; j < 4; ++j) {
    const auto rest = static_cast<double>(period - (at + j));
    tails[j] = (law.masses.total * rest + law.masses.constant - 2.0 * re[j]) / p;
    expTails[j] = (law.tilted.total * rest + law.tilted.constant - 2.0 * re[j + 4]) / p;
  }
}

// T(J) of a spectrum with period P; sum_k g_k w^k by Horner's rule.
double spectralTail(const Spectrum& spectrum, std::int64_t period, std::int64_t at) {
  const std::vector<std::complex<double>>& g = spectrum.terms;
  const auto p = static_cast<double>(period);
  const double angle = 2.0 * std::numbers::pi * static_cast<double>(at % period) / p;
  const std::complex<double> w(std::cos(angle), std::sin(angle));
  std::complex<double> sum{0.0, 0.0};
  for (std::size_t k = g.size(); k-- > 0;) sum = times(sum + g[k], w);
  return (spectrum.total * static_cast<double>(period - at) + spectrum.constant -
          2.0 * sum.real()) /
         p;
}


// The nodes first to end (of 0 to days x intervals) of the sum of days that hold all but
// kWindowTail of its mass on each side.
NodeWindow terminalWindow(const DayLaw& day, int days) {
  const int n = day.intervals;
  const std::int64_t last = static_cast<std::int64_t>(days) * n;
  const double mean = day.mean;
  double below = 0.0;
  double above = 0.0;
  chernoffWindow(day, days, below, above);
  const double centre = (days * mean - days * day.low) / day.spacing;
  const std::int64_t first =
      std::max<std::int64_t>(0, static_cast<std::int64_t>(std::floor(centre - below / day.spacing)) - 1);
  const std::int64_t end =
      std::min<std::int64_t>(last, static_cast<std::int64_t>(std::ceil(centre + above / day.spacing)) + 1);
  return {first, end};
}

// The point masses of the sum of days: the days on the upper end k times, on the lower end the
// others, each C(days, k) high^k low^(days - k) (with log C built up term by term; lgamma is
// not safe between threads). When they make up less than 1e-300 together, there are none.
std::vector<TerminalLaw::Atom> pointMasses(const DayLaw& day, int days) {
  std::vector<TerminalLaw::Atom> atoms;
  const int n = day.intervals;
  const double atomsTogether = day.atomLow + day.atomHigh;
  if (!(atomsTogether > 0.0 && days * std::log(atomsTogether) > -690.0)) return atoms;
  double logChoose = 0.0;
  for (int k = 0; k <= days; ++k) {
    if (k > 0) logChoose += std::log(static_cast<double>(days - k + 1) / k);
    if ((k > 0 && !(day.atomHigh > 0.0)) || (k < days && !(day.atomLow > 0.0))) continue;
    const double logMass = logChoose + (k > 0 ? k * std::log(day.atomHigh) : 0.0) +
                           (days - k > 0 ? (days - k) * std::log(day.atomLow) : 0.0);
    const double m = std::exp(logMass);
    if (!(m > 0.0)) continue;
    atoms.push_back({k * day.high + (days - k) * day.low, m, static_cast<std::int64_t>(k) * n});
  }
  return atoms;
}

// The lattice masses of the sum of days, point masses included, at the `count` nodes from
// `first`: the day's own for one day, else its transform raised to the days.
std::vector<double> latticeMasses(const DayLaw& day, int days, std::int64_t first,
                                  std::size_t count, FourierTransforms* transforms) {
  std::vector<double> masses(count);
  if (days == 1) {
    for (std::size_t i = 0; i < count; ++i) masses[i] = day.mass[static_cast<std::size_t>(first) + i];
    return masses;
  }
  const std::size_t size = powerOfTwoAtLeast(std::max(count, day.mass.size()));
  std::vector<std::complex<double>> data(size, {0.0, 0.0});
  for (std::size_t j = 0; j < day.mass.size(); ++j) data[j] = {day.mass[j], 0.0};
  std::optional<FourierTransform> own;
  const FourierTransform& fourier =
      transforms != nullptr ? transforms->of(size) : own.emplace(size);
  fourier.forward(data);
  for (auto& value : data) value = power(value, days);
  fourier.inverse(data);
  const double scale = 1.0 / static_cast<double>(size);
  for (std::size_t i = 0; i < count; ++i) {
    const auto j = static_cast<std::size_t>(first + static_cast<std::int64_t>(i)) % size;
    masses[i] = data[j].real() * scale;
  }
  return masses;
}

// The law's tail sums from the lattice masses of its window (nodes first to end), less its
// point masses.
void latticeTails(TerminalLaw& law, std::vector<double> masses, std::int64_t end) {
  const std::size_t count = masses.size();
  for (const TerminalLaw::Atom& atom : law.atoms) {
    if (atom.node >= law.first && atom.node <= end) {
      masses[static_cast<std::size_t>(atom.node - law.first)] -= atom.mass;
    }
  }
  law.tail.assign(count + 1, 0.0);
  law.expTail.assign(count + 1, 0.0);
  for (std::size_t i = count; i-- > 0;) {
    const double x = law.origin + static_cast<double>(i) * law.spacing;
    law.tail[i] = law.tail[i + 1] + masses[i];
    law.expTail[i] = law.expTail[i + 1] + masses[i] * std::exp(x);
  }
}
// Var[e^X]^0.5 of a sum of days whose E[e^X] is `mean` and whose log(1 + Var[e^X] / E[e^X]^2)
// is `logRatio`: mean x expm1(logRatio)^0.5, taken through logs where a factor is beyond a
// double and the product need not be.
double spreadOfSum(double mean, double logRatio) {
  const double direct = mean * std::sqrt(std::expm1(logRatio));
  if (std::isfinite(direct) || !(mean > 0.0) || !(logRatio > 0.0)) return direct;
  // expm1(y) = e^y (1 - e^-y).
  return std::exp(std::log(mean) + 0.5 * (logRatio + std::log1p(-std::exp(-logRatio))));
}

// Var[e^X]^0.5 of node masses (summing to 1) at log ratios origin + i x spacing, worked out
// relative to the highest node, so that the squares of the prices need not be doubles.
double nodeSpread(const std::vector<double>& mass, double origin, double spacing) {
  if (mass.empty()) return 0.0;
  const double top = origin + static_cast<double>(mass.size() - 1) * spacing;
  double mean = 0.0;
  double squares = 0.0;
  for (std::size_t i = 0; i < mass.size(); ++i) {
    const double g = std::exp(origin + static_cast<double>(i) * spacing - top);
    mean += mass[i] * g;
    squares += mass[i] * g * g;
  }
  const double variance = squares - mean * mean;
  return variance > 0.0 ? std::exp(top + 0.5 * std::log(variance)) : 0.0;
}

}  // namespace

NodeWindow sumWindow(const DayLaw& day, int days) { return terminalWindow(day, days); }

NodeMasses sumOfDays(const DayLaw& day, int days, FourierTransforms* transforms) {
  NodeMasses nodes;
  if (!day.defined) return nodes;
  if (day.certain) {
    // One point, at the nearest node.
    nodes.first = static_cast<std::int64_t>(std::llround((days * day.certainAt - days * day.low) /
                                                         day.spacing));
    nodes.mass.assign(1, 1.0);
    return nodes;
  }
  const NodeWindow window = terminalWindow(day, days);
  nodes.first = window.first;
  nodes.mass = latticeMasses(day, days, window.first,
                             static_cast<std::size_t>(window.end - window.first + 1), transforms);
  return nodes;
}

TerminalLaw lawOfNodes(const DayLaw& day, int days, const NodeMasses& nodes, double atomLow,
                       double atomHigh) {
  TerminalLaw law;
  law.days = days;
  law.defined = day.defined;
  if (!day.defined || nodes.mass.empty()) return law;
  law.spacing = day.spacing;
  law.first = nodes.first;
  law.origin = days * day.low + static_cast<double>(nodes.first) * day.spacing;
  const auto count = static_cast<std::int64_t>(nodes.mass.size());
  const std::int64_t end = nodes.first + count - 1;
  if (atomLow > 0.0) law.atoms.push_back({days * day.low, atomLow, 0});
  if (atomHigh > 0.0) {
    law.atoms.push_back({days * day.high, atomHigh, static_cast<std::int64_t>(days) * day.intervals});
  }
  double mean = 0.0;
  double squares = 0.0;
  for (std::int64_t i = 0; i < count; ++i) {
    const double g = std::exp(law.origin + static_cast<double>(i) * day.spacing);
    mean += nodes.mass[static_cast<std::size_t>(i)] * g;
    squares += nodes.mass[static_cast<std::size_t>(i)] * g * g;
  }
  law.expMean = mean;
  law.expVariance = std::max(squares - mean * mean, 0.0);
  law.expSpread = std::isfinite(squares) ? std::sqrt(law.expVariance)
                                         : nodeSpread(nodes.mass, law.origin, day.spacing);
  latticeTails(law, nodes.mass, end);
  law.densityEndsLow = days == 1 && nodes.first == 0;
  law.densityEndsHigh = days == 1 && end == day.intervals;
  return law;
}

TerminalLaw terminalLaw(const DayLaw& day, int days) {
  TerminalLaw law;
  law.days = days;
  law.defined = day.defined;
  if (!day.defined) return law;
  law.spacing = day.spacing;
  if (day.certain) {
    // One point: the day's end taken `days` times.
    law.atoms.push_back({days * day.certainAt, 1.0, 0});
    law.tail.assign(1, 0.0);
    law.expTail.assign(1, 0.0);
    law.expMean = std::exp(days * day.certainAt);
    return law;
  }
  const NodeWindow window = terminalWindow(day, days);
  const auto count = static_cast<std::size_t>(window.end - window.first + 1);
  law.first = window.first;
  law.origin = days * day.low + static_cast<double>(window.first) * day.spacing;
  // E[e^X] and Var[e^X] of the sum from the day's: the days are independent.
  law.expMean = std::pow(day.expMean, days);
  const double ratio = day.expVariance / (day.expMean * day.expMean);
  law.expVariance = law.expMean * law.expMean * std::expm1(days * std::log1p(ratio));
  law.expSpread = spreadOfSum(law.expMean, days * std::log1p(ratio));
  law.atoms = pointMasses(day, days);

  if (days >= 2) {
    const auto period = static_cast<std::int64_t>(count);
    if (spectralTerms(day, days, window.first, period, law.masses, law.tilted)) {
      law.period = period;
      return law;
    }
  }
  latticeTails(law, latticeMasses(day, days, window.first, count, nullptr), window.end);
  law.densityEndsLow = days == 1 && window.first == 0;
  law.densityEndsHigh = days == 1 && window.end == day.intervals;
  return law;
}

TerminalLaw oneStepLaw(const StepLaw& steps) {
  TerminalLaw law;
  law.days = 1;
  law.defined = steps.defined;
  if (!steps.defined) return law;
  const double low = logBandLow();
  const double high = logBandHigh();
  // The log steps ascend, so the held ones do too; those held at one end are one point.
  for (std::size_t i = 0; i < steps.logStep.size(); ++i) {
    const double at = std::min(std::max(steps.logStep[i], low), high);
    if (!law.atoms.empty() && law.atoms.back().at == at) {
      law.atoms.back().mass += steps.probability[i];
    } else {
      law.atoms.push_back({at, steps.probability[i], 0});
    }
  }
  const std::size_t count = law.atoms.size();
  law.pointTail.assign(count + 1, 0.0);
  law.pointExpTail.assign(count + 1, 0.0);
  for (std::size_t i = count; i-- > 0;) {
    law.pointTail[i] = law.pointTail[i + 1] + law.atoms[i].mass;
    law.pointExpTail[i] = law.pointExpTail[i + 1] + law.atoms[i].mass * std::exp(law.atoms[i].at);
  }
  law.expMean = law.pointExpTail[0];
  double squares = 0.0;
  for (const TerminalLaw::Atom& atom : law.atoms) {
    const double d = std::exp(atom.at) - law.expMean;
    squares += atom.mass * d * d;
  }
  law.expVariance = squares;
  law.expSpread = std::sqrt(squares);
  return law;
}

TailFigures tailAbove(const TerminalLaw& law, double x, bool orEqual) {
  if (!law.pointTail.empty()) {
    if (x != x) return {0.0, 0.0};
    // The first point above x (or at it, when orEqual).
    const auto first = orEqual ? std::lower_bound(law.atoms.begin(), law.atoms.end(), x,
                                                  [](const TerminalLaw::Atom& a, double v) {
                                                    return a.at < v;
                                                  })
                               : std::upper_bound(law.atoms.begin(), law.atoms.end(), x,
                                                  [](double v, const TerminalLaw::Atom& a) {
                                                    return v < a.at;
                                                  });
    const auto i = static_cast<std::size_t>(first - law.atoms.begin());
    return {law.pointTail[i], law.pointExpTail[i]};
  }
  TailFigures figures{0.0, 0.0};
  for (const TerminalLaw::Atom& atom : law.atoms) {
    if (atom.at > x || (orEqual && atom.at == x)) {
      figures.probability += atom.mass;
      figures.expectation += atom.mass * std::exp(atom.at);
    }
  }
  // The rest: the tail sum from node i is the mass above the midpoint between nodes i - 1 and
  // i; between midpoints, linear. The sums come from the lattice or, in spectral form, from
  // the spectra.
  const bool spectral = law.period > 0;
  const std::int64_t count =
      spectral ? law.period : static_cast<std::int64_t>(law.tail.size()) - 1;
  auto tailAt = [&](std::int64_t i) {
    return spectral ? spectralTail(law.masses, count, i) : law.tail[static_cast<std::size_t>(i)];
  };
  auto expTailAt = [&](std::int64_t i) {
    return spectral ? spectralTail(law.tilted, count, i)
                    : law.expTail[static_cast<std::size_t>(i)];
  };
  const double u = (x - law.origin) / law.spacing + 0.5;
  double tail = 0.0;
  double expTail = 0.0;
  // A day's density ends at the band's ends: the masses of its end nodes lie inside the band,
  // on the half spacing next to each end, where the tail runs straight to the total or to 0.
  const bool lowEnd = law.densityEndsLow;
  const bool highEnd = law.densityEndsHigh;
  const double top = static_cast<double>(count) - 0.5;  // u at the last node
  if (highEnd && u >= top) {
    // Nothing of the density above.
  } else if (highEnd && u >= top - 0.5) {
    const double f = 2.0 * (u - (top - 0.5));
    tail = (1.0 - f) * tailAt(count - 1);
    expTail = (1.0 - f) * expTailAt(count - 1);
  } else if (lowEnd && u < 1.0) {
    const double f = std::max(2.0 * (u - 0.5), 0.0);
    tail = tailAt(0) + f * (tailAt(1) - tailAt(0));
    expTail = expTailAt(0) + f * (expTailAt(1) - expTailAt(0));
  } else if (u <= 0.0) {
    tail = spectral ? law.masses.total : law.tail[0];
    expTail = spectral ? law.tilted.total : law.expTail[0];
  } else if (u < static_cast<double>(count)) {
    const double below = std::floor(u);
    const auto i = static_cast<std::int64_t>(below);
    const double f = u - below;
    // The cubic needs its four midpoints inside the density (an end's is not a midpoint).
    const std::int64_t lowest = lowEnd ? 2 : 1;
    const std::int64_t highest = highEnd ? count - 1 : count;
    if (i >= lowest && i + 2 <= highest) {
      // Between the four nearest midpoints, the cubic through them.
      double weights[4] = {0.0, 0.0, 0.0, 0.0};
      cubicSplit(f, 1.0, weights);
      double tails[4];
      double expTails[4];
      if (spectral) {
        spectralTails(law, i - 1, tails, expTails);
      } else {
        for (int k = 0; k < 4; ++k) {
          tails[k] = tailAt(i - 1 + k);
          expTails[k] = expTailAt(i - 1 + k);
        }
      }
      for (int k = 0; k < 4; ++k) {
        tail += weights[k] * tails[k];
        expTail += weights[k] * expTails[k];
      }
    } else {
      const double t0 = tailAt(i);
      const double e0 = expTailAt(i);
      tail = t0 + f * (tailAt(i + 1) - t0);
      expTail = e0 + f * (expTailAt(i + 1) - e0);
    }
  }
  figures.probability += tail;
  figures.expectation += expTail;
  return figures;
}

}  // namespace empricer
