#include "engine/exact/sample_measure.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace empricer {

namespace {

constexpr int kMostSweeps = 100;
// As on the lattice: the sweeps end when no expiry's fit began further than this from its end.
constexpr double kSweepTolerance = 1e-9;
// A sample of at least this many paths starts from the measure of every kCoarseStride-th.
constexpr std::size_t kCoarsePaths = 2048;
constexpr std::size_t kCoarseStride = 4;

}  // namespace

double logWeightOf(const SampleMeasure& measure, const double* x) {
  double log = 0.0;
  for (std::size_t e = 0; e < measure.lines.size(); ++e) log += tiltAt(measure.lines[e], x[e]);
  return log;
}

SampleMeasure calibrateSample(const std::vector<double>& x,
                              const std::vector<ExpiryQuotes>& expiries,
                              const std::vector<double>& forwards, const WorkWatch& watch) {
  SampleMeasure m;
  const std::size_t count = expiries.size();
  const std::size_t paths = count == 0 ? 0 : x.size() / count;
  m.paths = paths;
  if (count == 0 || paths == 0) return m;
  for (std::size_t e = 0; e < count; ++e) {
    m.forwards.push_back(forwards[e]);
    m.bands.push_back(strikeBands(expiries[e], m.forwards.back()));
    m.parity = m.parity && m.bands.back().parityAt < 0;
    PeriodFit fit;
    fit.lambda.assign(m.bands.back().targets.prices.size(), 0.0);
    m.fits.push_back(fit);
  }
  if (!m.parity) return m;
  // A large sample starts from the multipliers of every kCoarseStride-th path's measure: the
  // first sweeps, which move the multipliers most, cost a share of theirs.
  if (paths >= kCoarsePaths) {
    std::vector<double> coarseX;
    for (std::size_t t = 0; t < paths; t += kCoarseStride) {
      coarseX.insert(coarseX.end(), x.begin() + static_cast<std::ptrdiff_t>(t * count),
                     x.begin() + static_cast<std::ptrdiff_t>((t + 1) * count));
    }
    const SampleMeasure coarse = calibrateSample(coarseX, expiries, forwards, watch);
    if (watch.stopped()) return m;
    if (coarse.met) {
      for (std::size_t e = 0; e < count; ++e) {
        m.fits[e].mu = coarse.fits[e].mu;
        m.fits[e].lambda = coarse.fits[e].lambda;
      }
    }
  }
  // Each expiry's paths in the ascending order of their prices there, sorted once.
  std::vector<std::vector<std::size_t>> order(count, std::vector<std::size_t>(paths));
  std::vector<std::vector<double>> sorted(count, std::vector<double>(paths));
  std::vector<std::pair<double, std::size_t>> keyed(paths);
  for (std::size_t e = 0; e < count; ++e) {
    for (std::size_t t = 0; t < paths; ++t) keyed[t] = {x[t * count + e], t};
    std::sort(keyed.begin(), keyed.end());  // equal prices by path, as a stable sort leaves them
    for (std::size_t i = 0; i < paths; ++i) {
      sorted[e][i] = keyed[i].first;
      order[e][i] = keyed[i].second;
    }
  }
  // The log weights of each expiry's tilt, path by path.
  std::vector<double> tilts(paths * count, 0.0);
  std::vector<double> cavity(paths);
  // Expiry e's tilts at its fit, walked along its line in the paths' order there.
  auto tiltsOf = [&](std::size_t e) {
    const std::vector<double> along = tiltsAlong(tiltLine(m.bands[e].targets, m.fits[e]), sorted[e]);
    for (std::size_t i = 0; i < paths; ++i) tilts[order[e][i] * count + e] = along[i];
  };
  SweepMix mix;
  for (m.sweeps = 1; m.sweeps <= kMostSweeps; ++m.sweeps) {
    if (!watch.goOn()) return m;
    for (std::size_t e = 0; e < count; ++e) tiltsOf(e);
    const std::vector<double> start = flatFits(m.fits);
    bool allMet = true;
    for (std::size_t e = count; e-- > 0;) {
      // The cavity's log weights, in the expiry's order of the paths.
      for (std::size_t i = 0; i < paths; ++i) {
        const std::size_t t = order[e][i];
        double others = 0.0;
        for (std::size_t f = 0; f < count; ++f) {
          if (f != e) others += tilts[t * count + f];
        }
        cavity[i] = others;
      }
      m.fits[e] = fitPeriodSorted(sorted[e], cavity, m.bands[e].targets, m.fits[e]);
      allMet = allMet && m.fits[e].met && m.fits[e].startResidual <= kSweepTolerance;
      tiltsOf(e);
    }
    if (allMet) {
      m.met = true;
      break;
    }
    const std::vector<double> mixed = mix.next(start, flatFits(m.fits));
    if (!mixed.empty()) setFlatFits(mixed, m.fits);
  }
  m.sweeps = std::min(m.sweeps, kMostSweeps);
  for (std::size_t e = 0; e < count; ++e) m.lines.push_back(tiltLine(m.bands[e].targets, m.fits[e]));
  // The weights, the prices under them, the relative entropy and the effective size.
  std::vector<double> logs(paths);
  double top = -std::numeric_limits<double>::infinity();
  for (std::size_t t = 0; t < paths; ++t) {
    logs[t] = logWeightOf(m, &x[t * count]);
    top = std::max(top, logs[t]);
  }
  double sum = 0.0;
  double squares = 0.0;
  for (double& l : logs) {
    l = std::exp(l - top);
    sum += l;
    squares += l * l;
  }
  m.effectiveSize = sum * sum / squares;
  double entropy = 0.0;
  const auto n = static_cast<double>(paths);
  for (const double w : logs) {
    const double q = w / sum;
    if (q > 0.0) entropy += q * std::log(q * n);
  }
  m.relativeEntropy = std::max(entropy, 0.0);
  for (std::size_t e = 0; e < count; ++e) {
    std::vector<double> row(expiries[e].prices.size(), 0.0);
    for (std::size_t t = 0; t < paths; ++t) {
      const double q = logs[t] / sum;
      for (std::size_t j = 0; j < row.size(); ++j) {
        row[j] += q * periodPayoff(expiries[e].prices[j], x[t * count + e]);
      }
    }
    m.prices.push_back(row);
  }
  bool inside = true;
  for (std::size_t e = 0; e < count; ++e) {
    for (std::size_t j = 0; j < m.prices[e].size(); ++j) {
      const PeriodPrice& q = expiries[e].prices[j];
      inside = inside && m.prices[e][j] >= q.bid - 1e-9 && m.prices[e][j] <= q.ask + 1e-9;
    }
  }
  m.met = m.met || inside;
  return m;
}

}  // namespace empricer
