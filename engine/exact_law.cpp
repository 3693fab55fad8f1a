#include "engine/exact_law.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <limits>

#include "engine/constants.h"
#include "engine/fourier.h"

namespace empricer {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// The mass left outside a terminal window, on each side, is below this.
constexpr double kWindowTail = 1e-18;

// The distinct log step factors of one step, each with its probability. A factor of 0 or below
// takes the price to or past 0, so below any band: -infinity; +infinity stays.
struct StepLaw {
  bool defined = true;
  std::vector<double> logStep;
  std::vector<double> probability;
};

StepLaw stepLaw(const DrawTable& draws, PathKind kind, double growth) {
  StepLaw law;
  std::vector<double> steps(kGeneratorOutputs);
  for (int r = 0; r < kGeneratorOutputs; ++r) {
    const double w = draws.returnFor[r];
    const double factor = kind == PathKind::base ? 1.0 + w : w + growth;
    if (std::isnan(factor)) {
      law.defined = false;
      return law;
    }
    steps[static_cast<std::size_t>(r)] = factor > 0.0 ? std::log(factor) : -kInfinity;
  }
  std::sort(steps.begin(), steps.end());
  constexpr double kOne = 1.0 / kGeneratorOutputs;
  for (std::size_t i = 0; i < steps.size();) {
    std::size_t j = i;
    while (j < steps.size() && steps[j] == steps[i]) ++j;
    law.logStep.push_back(steps[i]);
    law.probability.push_back(static_cast<double>(j - i) * kOne);
    i = j;
  }
  return law;
}

// Where the mass of a node goes in one step, for the nodes near an end: masses on the nodes
// from `first` on, and the parts that land on or beyond the ends.
struct EdgeRow {
  int first = 0;
  std::vector<double> mass;
  double low = 0.0;
  double high = 0.0;
};

EdgeRow edgeRow(const StepLaw& steps, int node, int intervals, double spacing) {
  EdgeRow row;
  int lowest = intervals;
  int highest = 0;
  std::vector<double> into(static_cast<std::size_t>(intervals) + 1, 0.0);
  for (std::size_t a = 0; a < steps.logStep.size(); ++a) {
    const double p = steps.probability[a];
    const double t = static_cast<double>(node) + steps.logStep[a] / spacing;
    if (t >= intervals) {
      row.high += p;
    } else if (t <= 0.0) {
      row.low += p;
    } else {
      const double below = std::floor(t);
      const int k = static_cast<int>(below);
      const double theta = t - below;
      into[static_cast<std::size_t>(k)] += p * (1.0 - theta);
      into[static_cast<std::size_t>(k) + 1] += p * theta;
      lowest = std::min(lowest, k);
      highest = std::max(highest, k + 1);
    }
  }
  if (lowest <= highest) {
    row.first = lowest;
    row.mass.assign(into.begin() + lowest, into.begin() + highest + 1);
  }
  return row;
}

double logBandLow() { return std::log(kLowerBand); }
double logBandHigh() { return std::log(kUpperBand); }

// E[e^X] and Var[e^X] of node masses at origin + j x spacing.
void expMoments(const std::vector<double>& mass, double origin, double spacing, double& mean,
                double& variance) {
  double sum = 0.0;
  for (std::size_t j = 0; j < mass.size(); ++j) {
    sum += mass[j] * std::exp(origin + static_cast<double>(j) * spacing);
  }
  double squares = 0.0;
  for (std::size_t j = 0; j < mass.size(); ++j) {
    const double d = std::exp(origin + static_cast<double>(j) * spacing) - sum;
    squares += mass[j] * d * d;
  }
  mean = sum;
  variance = squares;
}

// The day's mean and log E e^(l (X - mean)) for l = +-1 to +-1e5 in steps of a quarter.
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
  for (double lambda = 1.0; lambda <= 1e5; lambda *= 1.25) {
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

}  // namespace

DayLaw dayLaw(const DrawTable& draws, PathKind kind, double growth, int intervals) {
  DayLaw day;
  day.intervals = intervals;
  day.low = logBandLow();
  day.high = logBandHigh();
  day.spacing = (day.high - day.low) / intervals;
  const StepLaw steps = stepLaw(draws, kind, growth);
  if (!steps.defined) {
    day.defined = false;
    return day;
  }
  const double h = day.spacing;
  const double width = day.high - day.low;
  const int n = intervals;

  // The steps that stay inside the band from some node make up the kernel of the inner nodes;
  // the others land on an end from every node.
  double alwaysLow = 0.0;
  double alwaysHigh = 0.0;
  double smallest = kInfinity;
  double largest = -kInfinity;
  for (std::size_t a = 0; a < steps.logStep.size(); ++a) {
    const double s = steps.logStep[a];
    if (s <= -width) {
      alwaysLow += steps.probability[a];
    } else if (s >= width) {
      alwaysHigh += steps.probability[a];
    } else {
      smallest = std::min(smallest, s);
      largest = std::max(largest, s);
    }
  }
  // Inner nodes: every step that is not always clipped lands strictly inside, two nodes off
  // the ends, from node innerLow to innerHigh.
  int innerLow = n + 1;
  int innerHigh = -1;
  int kernelFirst = 0;
  std::vector<double> kernel;
  if (smallest <= largest) {
    innerLow = static_cast<int>(std::floor(-smallest / h)) + 2;
    innerHigh = static_cast<int>(std::ceil(n - largest / h)) - 2;
    kernelFirst = static_cast<int>(std::floor(smallest / h));
    const int kernelLast = static_cast<int>(std::floor(largest / h)) + 1;
    kernel.assign(static_cast<std::size_t>(kernelLast - kernelFirst + 1), 0.0);
    for (std::size_t a = 0; a < steps.logStep.size(); ++a) {
      const double s = steps.logStep[a];
      if (s <= -width || s >= width) continue;
      const double t = s / h;
      const double below = std::floor(t);
      const int k = static_cast<int>(below) - kernelFirst;
      const double theta = t - below;
      kernel[static_cast<std::size_t>(k)] += steps.probability[a] * (1.0 - theta);
      kernel[static_cast<std::size_t>(k) + 1] += steps.probability[a] * theta;
    }
  }
  innerLow = std::max(innerLow, 0);
  innerHigh = std::min(innerHigh, n);
  std::vector<EdgeRow> edges(static_cast<std::size_t>(n) + 1);
  for (int i = 0; i <= n; ++i) {
    if (i < innerLow || i > innerHigh) edges[static_cast<std::size_t>(i)] = edgeRow(steps, i, n, h);
  }

  std::vector<double> mass(static_cast<std::size_t>(n) + 1, 0.0);
  std::vector<double> next(mass.size());
  // The walk starts at the anchor: log ratio 0, which lies between nodes like any other point.
  {
    const double t = -day.low / h;
    const double below = std::floor(t);
    const auto k = static_cast<std::size_t>(below);
    mass[k] += 1.0 - (t - below);
    if (k + 1 <= static_cast<std::size_t>(n)) mass[k + 1] += t - below;
  }
  for (int step = 0; step < kStepsPerDay; ++step) {
    std::fill(next.begin(), next.end(), 0.0);
    double toLow = 0.0;
    double toHigh = 0.0;
    if (innerLow <= innerHigh) {
      const double* from = mass.data() + innerLow;
      const int count = innerHigh - innerLow + 1;
      double inner = 0.0;
      for (int i = 0; i < count; ++i) inner += from[i];
      for (std::size_t k = 0; k < kernel.size(); ++k) {
        const double q = kernel[k];
        double* into = next.data() + innerLow + kernelFirst + static_cast<int>(k);
        for (int i = 0; i < count; ++i) into[i] += q * from[i];
      }
      toLow += alwaysLow * inner;
      toHigh += alwaysHigh * inner;
    }
    for (int i = 0; i <= n; ++i) {
      if (i >= innerLow && i <= innerHigh) continue;
      const double m = mass[static_cast<std::size_t>(i)];
      if (m == 0.0) continue;
      const EdgeRow& row = edges[static_cast<std::size_t>(i)];
      for (std::size_t j = 0; j < row.mass.size(); ++j) {
        next[static_cast<std::size_t>(row.first) + j] += m * row.mass[j];
      }
      toLow += m * row.low;
      toHigh += m * row.high;
    }
    next[0] += toLow;
    next[static_cast<std::size_t>(n)] += toHigh;
    day.atomLow = toLow;
    day.atomHigh = toHigh;
    mass.swap(next);
  }
  day.mass = std::move(mass);
  expMoments(day.mass, day.low, h, day.expMean, day.expVariance);
  logMoments(day);
  return day;
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

// log of the binomial coefficient n over k.
double logChoose(int n, int k) {
  return std::lgamma(n + 1.0) - std::lgamma(k + 1.0) - std::lgamma(n - k + 1.0);
}

}  // namespace

TerminalLaw terminalLaw(const DayLaw& day, int days) {
  TerminalLaw law;
  law.days = days;
  law.defined = day.defined;
  if (!day.defined) return law;
  law.spacing = day.spacing;
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
  const auto count = static_cast<std::size_t>(end - first + 1);
  const std::size_t size = powerOfTwoAtLeast(std::max(count, day.mass.size()));

  std::vector<std::complex<double>> data(size, {0.0, 0.0});
  for (std::size_t j = 0; j < day.mass.size(); ++j) data[j] = {day.mass[j], 0.0};
  const FourierTransform fourier(size);
  fourier.forward(data);
  for (auto& value : data) value = power(value, days);
  fourier.inverse(data);

  // The point masses: the days on the upper end k times, on the lower end the others.
  std::vector<double> masses(count);
  const double scale = 1.0 / static_cast<double>(size);
  for (std::size_t i = 0; i < count; ++i) {
    const auto j = static_cast<std::size_t>(first + static_cast<std::int64_t>(i)) % size;
    masses[i] = data[j].real() * scale;
  }
  for (int k = 0; k <= days; ++k) {
    double logMass = -kInfinity;
    if (day.atomHigh > 0.0 || k == 0) {
      if (day.atomLow > 0.0 || k == days) {
        logMass = logChoose(days, k) + (k > 0 ? k * std::log(day.atomHigh) : 0.0) +
                  (days - k > 0 ? (days - k) * std::log(day.atomLow) : 0.0);
      }
    }
    const double m = std::exp(logMass);
    if (!(m > 0.0)) continue;
    const double at = k * day.high + (days - k) * day.low;
    law.atoms.push_back({at, m});
    const std::int64_t node = static_cast<std::int64_t>(k) * n;
    if (node >= first && node <= end) masses[static_cast<std::size_t>(node - first)] -= m;
  }

  law.first = first;
  law.origin = days * day.low + static_cast<double>(first) * day.spacing;
  law.tail.assign(count + 1, 0.0);
  law.expTail.assign(count + 1, 0.0);
  for (std::size_t i = count; i-- > 0;) {
    const double x = law.origin + static_cast<double>(i) * day.spacing;
    law.tail[i] = law.tail[i + 1] + masses[i];
    law.expTail[i] = law.expTail[i + 1] + masses[i] * std::exp(x);
  }
  // E[e^X] and Var[e^X] of the sum from the day's: the days are independent.
  law.expMean = std::pow(day.expMean, days);
  const double ratio = day.expVariance / (day.expMean * day.expMean);
  law.expVariance = law.expMean * law.expMean * std::expm1(days * std::log1p(ratio));
  return law;
}

TailFigures tailAbove(const TerminalLaw& law, double x, bool orEqual) {
  TailFigures figures{0.0, 0.0};
  for (const TerminalLaw::Atom& atom : law.atoms) {
    if (atom.at > x || (orEqual && atom.at == x)) {
      figures.probability += atom.mass;
      figures.expectation += atom.mass * std::exp(atom.at);
    }
  }
  // The rest: the tail sum from node i is the mass above the midpoint between nodes i - 1 and
  // i; between midpoints, linear.
  const double u = (x - law.origin) / law.spacing + 0.5;
  const auto count = static_cast<std::int64_t>(law.tail.size()) - 1;
  double tail = 0.0;
  double expTail = 0.0;
  if (u <= 0.0) {
    tail = law.tail[0];
    expTail = law.expTail[0];
  } else if (u < static_cast<double>(count)) {
    const double below = std::floor(u);
    const auto i = static_cast<std::size_t>(below);
    const double f = u - below;
    tail = law.tail[i] + f * (law.tail[i + 1] - law.tail[i]);
    expTail = law.expTail[i] + f * (law.expTail[i + 1] - law.expTail[i]);
  }
  figures.probability += tail;
  figures.expectation += expTail;
  return figures;
}

}  // namespace empricer
