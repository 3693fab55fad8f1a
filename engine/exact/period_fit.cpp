#include "engine/exact/period_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/exact/exp_kernels.h"

namespace empricer {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr int kMostIterations = 200;
// A rise of the dual below this is lost in its rounding.
constexpr double kTinyRise = 1e-13;

// The weights at the multipliers: the means of the features (x, then each payoff) and, when
// asked, their covariances; and log of the sum of the tilted weights.
struct AtMultipliers {
  double logSum = 0.0;
  std::vector<double> mean;
  std::vector<double> covariance;  // k x k, row by row
};

// Every feature is a line in x plus at most one hinge: x itself, a call d (x - K)+ and a put
// d ((x - K)+ - x + K). So the tilt is a broken line in x, and, the points taken in ascending
// order, the sums of w, w u and w u^2 (u = x - r) between neighbouring strikes give every mean
// and covariance: each evaluation is one pass over the points, whatever the number of quotes.
struct Problem {
  Problem(const std::vector<double>& points, const std::vector<double>& weights,
          const PeriodTargets& goals)
      : targets(goals), reference(goals.forward) {
    std::vector<std::size_t> order(points.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    if (!std::is_sorted(points.begin(), points.end())) {
      std::stable_sort(order.begin(), order.end(),
                       [&](std::size_t a, std::size_t b) { return points[a] < points[b]; });
    }
    for (const std::size_t i : order) {
      if (!(weights[i] > 0.0)) continue;
      x.push_back(points[i]);
      logWeight.push_back(std::log(weights[i]));
    }
    orderStrikes();
  }
  // Points in ascending order, with the logs of their weights.
  Problem(const std::vector<double>& sorted, const std::vector<double>& logWeights,
          const PeriodTargets& goals, bool /*logs*/)
      : targets(goals), reference(goals.forward) {
    for (std::size_t i = 0; i < sorted.size(); ++i) {
      if (!(logWeights[i] > -kInfinity)) continue;
      x.push_back(sorted[i]);
      logWeight.push_back(logWeights[i]);
    }
    orderStrikes();
  }
  void orderStrikes() {
    const std::size_t m = targets.prices.size();
    byStrike.resize(m);
    for (std::size_t j = 0; j < m; ++j) byStrike[j] = j;
    std::stable_sort(byStrike.begin(), byStrike.end(), [&](std::size_t a, std::size_t b) {
      return targets.prices[a].strike < targets.prices[b].strike;
    });
    // Where each point lies among the strikes, and its distances, the same at any multipliers.
    binOf.resize(x.size());
    u.resize(x.size());
    v.resize(x.size());
    std::size_t below = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
      while (below < m && targets.prices[byStrike[below]].strike < x[i]) ++below;
      binOf[i] = below;
      u[i] = x[i] - reference;
      v[i] = below == 0 ? 0.0 : x[i] - targets.prices[byStrike[below - 1]].strike;
    }
  }
  const PeriodTargets& targets;
  double reference;                   // r: u = x - r keeps the sums' squares small
  std::vector<double> x;              // ascending, the points of positive weight
  std::vector<double> logWeight;
  std::vector<std::size_t> byStrike;  // the prices by ascending strike
  // By point: how many strikes lie below it, u = x - r, and v = x less the highest strike
  // below it (0 with none).
  std::vector<std::size_t> binOf;
  std::vector<double> u;
  std::vector<double> v;
  // An evaluation's room, point by point: kept between evaluations so that none allocates.
  mutable std::vector<double> exponent;
  mutable std::vector<double> tilted;  // e^(exponent - the largest)
  std::size_t features() const { return targets.prices.size() + 1; }
};

// The passes over the points, each a function of its own so that its running sums stay in
// registers (the compiler keeps a value that lives across a call in memory, read and written
// at every point).

// Each point's log weight plus its tilt, into `s`; the largest of them.
__attribute__((noinline)) double exponentsOf(const Problem& p, const TiltLine& line, double* s) {
  double largest = -kInfinity;
  const double* const x = p.x.data();
  const double* const logWeight = p.logWeight.data();
  const std::size_t* const bin = p.binOf.data();
  const double* const intercept = line.intercept.data();
  const double* const slope = line.slope.data();
  for (std::size_t i = 0; i < p.x.size(); ++i) {
    s[i] = logWeight[i] + (intercept[bin[i]] + slope[bin[i]] * x[i]);
    largest = std::max(largest, s[i]);
  }
  return largest;
}

__attribute__((noinline)) double sumOf(const double* w, std::size_t n) {
  double total = 0.0;
  for (std::size_t i = 0; i < n; ++i) total += w[i];
  return total;
}

// Over the points of weights `w`: the sums of w, w u and w u^2, and by bin those of w, w v and
// w v^2 (into s0, s1 and s2).
__attribute__((noinline)) void pointSums(const Problem& p, const double* w, double& sum,
                                         double& tu, double& tuu, double* s0, double* s1,
                                         double* s2) {
  const double* const us = p.u.data();
  const double* const vs = p.v.data();
  const std::size_t* const bins = p.binOf.data();
  double total = 0.0;
  double first = 0.0;
  double second = 0.0;
  for (std::size_t i = 0; i < p.x.size(); ++i) {
    const double wi = w[i];
    total += wi;
    const double u = us[i];
    first += wi * u;
    second += wi * u * u;
    const std::size_t b = bins[i];
    if (b == 0) continue;
    const double v = vs[i];
    s0[b] += wi;
    s1[b] += wi * v;
    s2[b] += wi * v * v;
  }
  sum = total;
  tu = first;
  tuu = second;
}

AtMultipliers evaluate(const Problem& p, const std::vector<double>& theta, bool covariance,
                       bool means = true) {
  const std::size_t k = p.features();
  const std::size_t m = k - 1;
  AtMultipliers at;
  // The tilt theta . f(x), a broken line in x.
  const TiltLine line = tiltLine(p.targets, theta[0], theta.data() + 1);
  const std::size_t n = p.x.size();
  std::vector<double>& s = p.exponent;
  s.resize(n);
  const double largest = exponentsOf(p, line, s.data());
  // Over all points, the sums of w, w u and w u^2 (u = x - r); by bin (bin b: the points above
  // b strikes and not above b + 1), the sums of w, w v and w v^2 with v = x less the highest
  // strike below, so that a hinge's moments add positive terms only and keep their precision
  // however small they are.
  std::vector<double> s0(m + 1, 0.0);
  std::vector<double> s1(m + 1, 0.0);
  std::vector<double> s2(m + 1, 0.0);
  auto strikeOfRank = [&](std::size_t r) { return p.targets.prices[p.byStrike[r]].strike; };
  double sum = 0.0;
  double tu = 0.0;
  double tuu = 0.0;
  std::vector<double>& weights = p.tilted;
  weights.resize(n);
  expOfEach(s.data(), largest, weights.data(), n);
  if (!means) {
    sum = sumOf(weights.data(), n);
  } else {
    pointSums(p, weights.data(), sum, tu, tuu, s0.data(), s1.data(), s2.data());
  }
  at.logSum = largest + std::log(sum);
  if (!means) return at;
  // Above the strike of rank r: the sums of w, w v and w v^2 with v = x - K_r.
  std::vector<double> a0(m, 0.0);
  std::vector<double> a1(m, 0.0);
  std::vector<double> a2(m, 0.0);
  for (std::size_t r = 0; r < m; ++r) {
    for (std::size_t b = m; b > r; --b) {
      const double shift = strikeOfRank(b - 1) - strikeOfRank(r);
      a0[r] += s0[b];
      a1[r] += s1[b] + shift * s0[b];
      a2[r] += s2[b] + shift * (2.0 * s1[b] + shift * s0[b]);
    }
  }
  // The basis (u, c_1 .. c_m), c_j = (x - K_j)+ by price: means and covariances.
  std::vector<std::size_t> rank(m);
  for (std::size_t r = 0; r < m; ++r) rank[p.byStrike[r]] = r;
  std::vector<double> basisMean(k);
  basisMean[0] = tu / sum;
  for (std::size_t j = 0; j < m; ++j) basisMean[j + 1] = a1[rank[j]] / sum;
  // The features as lines of the basis: f_0 = u + r, f_j = d_j c_j (call) or
  // d_j (c_j - u + K_j - r) (put).
  at.mean.assign(k, 0.0);
  at.mean[0] = basisMean[0] + p.reference;
  for (std::size_t j = 0; j < m; ++j) {
    const PeriodPrice& q = p.targets.prices[j];
    at.mean[j + 1] = q.call ? q.discount * basisMean[j + 1]
                            : q.discount * (basisMean[j + 1] - basisMean[0] +
                                            (q.strike - p.reference));
  }
  if (!covariance) return at;
  std::vector<double> basis(k * k);
  basis[0] = tuu / sum - basisMean[0] * basisMean[0];
  for (std::size_t j = 0; j < m; ++j) {
    const std::size_t r = rank[j];
    // u c_j = ((x - K_j) + (K_j - r)) (x - K_j) above K_j.
    const double v = (a2[r] + (p.targets.prices[j].strike - p.reference) * a1[r]) / sum -
                     basisMean[0] * basisMean[j + 1];
    basis[j + 1] = basis[(j + 1) * k] = v;
    for (std::size_t l = j; l < m; ++l) {
      // Both hinges open above the higher strike H: (x - L) (x - H) = ((x - H) + (H - L)) (x - H).
      const std::size_t hi = std::max(r, rank[l]);
      const double gap = std::fabs(p.targets.prices[l].strike - p.targets.prices[j].strike);
      const double both = (a2[hi] + gap * a1[hi]) / sum;
      const double c = both - basisMean[j + 1] * basisMean[l + 1];
      basis[(j + 1) * k + (l + 1)] = basis[(l + 1) * k + (j + 1)] = c;
    }
  }
  // cov(f) = A cov(basis) A^T with row j of A: d_j e_j, less d_j e_0 for a put.
  auto row = [&](std::size_t j, std::size_t c) {  // (A cov(basis))[j][c]
    if (j == 0) return basis[c];
    const PeriodPrice& q = p.targets.prices[j - 1];
    const double v = basis[j * k + c] - (q.call ? 0.0 : basis[c]);
    return q.discount * v;
  };
  at.covariance.assign(k * k, 0.0);
  for (std::size_t a = 0; a < k; ++a) {
    for (std::size_t b = a; b < k; ++b) {
      double v = row(a, b);
      if (b > 0) {
        const PeriodPrice& q = p.targets.prices[b - 1];
        v = q.discount * (row(a, b) - (q.call ? 0.0 : row(a, 0)));
      }
      at.covariance[a * k + b] = at.covariance[b * k + a] = v;
    }
  }
  return at;
}

// The dual's value: mu F + the quotes' sides taken by their multipliers' signs - log sum.
double dual(const Problem& p, const std::vector<double>& theta, double logSum) {
  double value = theta[0] * p.targets.forward - logSum;
  for (std::size_t j = 1; j < p.features(); ++j) {
    const PeriodPrice& q = p.targets.prices[j - 1];
    if (theta[j] > 0.0) value += theta[j] * q.bid;
    if (theta[j] < 0.0) value += theta[j] * q.ask;
  }
  return value;
}

// The gradient of the dual in the multipliers free to move (0 for the others).
std::vector<double> gradient(const Problem& p, const std::vector<double>& theta,
                             const std::vector<double>& mean) {
  std::vector<double> g(p.features(), 0.0);
  g[0] = p.targets.forward - mean[0];
  for (std::size_t j = 1; j < p.features(); ++j) {
    const PeriodPrice& q = p.targets.prices[j - 1];
    if (theta[j] > 0.0) {
      g[j] = q.bid - mean[j];
    } else if (theta[j] < 0.0) {
      g[j] = q.ask - mean[j];
    } else if (mean[j] < q.bid) {
      g[j] = q.bid - mean[j];
    } else if (mean[j] > q.ask) {
      g[j] = q.ask - mean[j];
    }
  }
  return g;
}

// Solves a x = b for the symmetric positive semi-definite a (n x n) by Cholesky with a ridge
// of 1e-12 of its largest diagonal; directions the ridge dominates move little.
std::vector<double> solveSymmetric(std::vector<double> a, std::vector<double> b, std::size_t n) {
  double largest = 0.0;
  for (std::size_t i = 0; i < n; ++i) largest = std::max(largest, a[i * n + i]);
  const double ridge = largest > 0.0 ? 1e-12 * largest : 1e-300;
  for (std::size_t i = 0; i < n; ++i) a[i * n + i] += ridge;
  for (std::size_t j = 0; j < n; ++j) {
    double d = a[j * n + j];
    for (std::size_t k = 0; k < j; ++k) d -= a[j * n + k] * a[j * n + k];
    d = std::sqrt(std::max(d, ridge));
    a[j * n + j] = d;
    for (std::size_t i = j + 1; i < n; ++i) {
      double v = a[i * n + j];
      for (std::size_t k = 0; k < j; ++k) v -= a[i * n + k] * a[j * n + k];
      a[i * n + j] = v / d;
    }
  }
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t k = 0; k < i; ++k) b[i] -= a[i * n + k] * b[k];
    b[i] /= a[i * n + i];
  }
  for (std::size_t i = n; i-- > 0;) {
    for (std::size_t k = i + 1; k < n; ++k) b[i] -= a[k * n + i] * b[k];
    b[i] /= a[i * n + i];
  }
  return b;
}

// The largest of the forward's distance from its target and each multiplier's gradient.
double residualOf(const Problem& p, const std::vector<double>& mean, const std::vector<double>& g) {
  double largest = std::fabs(p.targets.forward - mean[0]);
  for (std::size_t j = 1; j < p.features(); ++j) largest = std::max(largest, std::fabs(g[j]));
  return largest == largest ? largest : kInfinity;
}

bool metAt(const Problem& p, const std::vector<double>& mean, const std::vector<double>& g) {
  return residualOf(p, mean, g) <= kPeriodTolerance;
}

}  // namespace

double periodPayoff(const PeriodPrice& price, double x) {
  return price.discount * (price.call ? std::max(x - price.strike, 0.0)
                                      : std::max(price.strike - x, 0.0));
}

TiltLine tiltLine(const PeriodTargets& targets, double mu, const double* lambda) {
  const std::size_t m = targets.prices.size();
  std::vector<std::size_t> byStrike(m);
  for (std::size_t j = 0; j < m; ++j) byStrike[j] = j;
  std::stable_sort(byStrike.begin(), byStrike.end(), [&](std::size_t a, std::size_t b) {
    return targets.prices[a].strike < targets.prices[b].strike;
  });
  // Below every strike: mu x, and each put's d (K - x).
  double intercept = 0.0;
  double slope = mu;
  for (std::size_t j = 0; j < m; ++j) {
    const PeriodPrice& q = targets.prices[j];
    if (!q.call) {
      slope -= lambda[j] * q.discount;
      intercept += lambda[j] * q.discount * q.strike;
    }
  }
  TiltLine line;
  line.intercept.push_back(intercept);
  line.slope.push_back(slope);
  // Above each strike, its hinge d (x - K) opens, for a call and (with the put's line) a put.
  for (const std::size_t j : byStrike) {
    const PeriodPrice& q = targets.prices[j];
    const double a = lambda[j] * q.discount;
    slope += a;
    intercept -= a * q.strike;
    line.strikes.push_back(q.strike);
    line.intercept.push_back(intercept);
    line.slope.push_back(slope);
  }
  return line;
}

TiltLine tiltLine(const PeriodTargets& targets, const PeriodFit& fit) {
  return tiltLine(targets, fit.mu, fit.lambda.data());
}

double tiltAt(const TiltLine& line, double x) {
  const auto segment = static_cast<std::size_t>(
      std::lower_bound(line.strikes.begin(), line.strikes.end(), x) - line.strikes.begin());
  return tiltOnSegment(line, segment, x);
}

std::vector<double> tiltsAlong(const TiltLine& line, const std::vector<double>& ascending) {
  std::vector<double> tilt(ascending.size());
  std::size_t segment = 0;
  for (std::size_t i = 0; i < ascending.size(); ++i) {
    const double x = ascending[i];
    while (segment < line.strikes.size() && line.strikes[segment] < x) ++segment;
    tilt[i] = tiltOnSegment(line, segment, x);
  }
  return tilt;
}

double periodTilt(const PeriodTargets& targets, const PeriodFit& fit, double x) {
  return tiltAt(tiltLine(targets, fit), x);
}

namespace {

PeriodFit solve(const Problem& p, const PeriodTargets& targets, const PeriodFit& start);

}  // namespace

PeriodFit fitPeriod(const std::vector<double>& x, const std::vector<double>& weight,
                    const PeriodTargets& targets, PeriodFit start) {
  return solve(Problem{x, weight, targets}, targets, start);
}

PeriodFit fitPeriodSorted(const std::vector<double>& x, const std::vector<double>& logWeight,
                          const PeriodTargets& targets, PeriodFit start) {
  return solve(Problem{x, logWeight, targets, true}, targets, start);
}

namespace {

PeriodFit solve(const Problem& p, const PeriodTargets& targets, const PeriodFit& start) {
  const std::size_t k = p.features();
  std::vector<double> theta(k, 0.0);
  theta[0] = start.mu;
  if (start.lambda.size() == targets.prices.size()) {
    for (std::size_t j = 1; j < k; ++j) theta[j] = start.lambda[j - 1];
  }
  PeriodFit fit;
  AtMultipliers at = evaluate(p, theta, true);
  int iteration = 0;
  fit.startResidual = residualOf(p, at.mean, gradient(p, theta, at.mean));
  for (; iteration < kMostIterations; ++iteration) {
    std::vector<double> g = gradient(p, theta, at.mean);
    if (metAt(p, at.mean, g)) break;
    // The multipliers that move: the forward's, and each quote's that is not 0 or is pushed
    // off it. A quote pushed off 0 whose Newton step goes the other way stays at 0.
    std::vector<std::size_t> free;
    for (std::size_t j = 0; j < k; ++j) {
      if (j == 0 || theta[j] != 0.0 || g[j] != 0.0) free.push_back(j);
    }
    std::vector<double> step;
    std::vector<std::size_t> held;  // pushed off 0 by the gradient, held there by the step
    for (int attempt = 0; attempt < static_cast<int>(k) + 1; ++attempt) {
      const std::size_t n = free.size();
      std::vector<double> h(n * n);
      std::vector<double> b(n);
      for (std::size_t a = 0; a < n; ++a) {
        b[a] = g[free[a]];
        for (std::size_t c = 0; c < n; ++c) h[a * n + c] = at.covariance[free[a] * k + free[c]];
      }
      const std::vector<double> d = solveSymmetric(h, b, n);
      step.assign(k, 0.0);
      bool wrong = false;
      std::vector<std::size_t> kept;
      for (std::size_t a = 0; a < n; ++a) {
        const std::size_t j = free[a];
        step[j] = d[a];
        if (j > 0 && theta[j] == 0.0 && step[j] * g[j] < 0.0) {
          wrong = true;
          held.push_back(j);
        } else {
          kept.push_back(j);
        }
      }
      if (!wrong) break;
      free = kept;
    }
    // Each one held moves on its own, by its own Newton step, the way its gradient points, so
    // that a price just outside its band is not left there.
    for (const std::size_t j : held) {
      const double curvature = at.covariance[j * k + j];
      if (curvature > 0.0 && step[j] == 0.0) step[j] = g[j] / curvature;
    }
    // A projected step: a multiplier that would cross 0 stops at 0 (the dual's kink), and the
    // step is shortened until the dual rises by a share of what its slope promises.
    const double before = dual(p, theta, at.logSum);
    std::vector<double> next(k);
    auto search = [&](const std::vector<double>& direction) {
      double t = 1.0;
      for (int halving = 0; halving < 60; ++halving) {
        double slope = 0.0;
        for (std::size_t j = 0; j < k; ++j) {
          next[j] = theta[j] + t * direction[j];
          if (j > 0 && theta[j] != 0.0 && (theta[j] > 0.0) != (next[j] > 0.0)) next[j] = 0.0;
          slope += g[j] * (next[j] - theta[j]);
        }
        // Near the optimum the rise is below what the dual's value can show: the step is taken
        // as it is.
        if (slope > 0.0 &&
            (slope < kTinyRise ||
             dual(p, next, evaluate(p, next, false, false).logSum) >= before + 1e-4 * slope)) {
          return true;
        }
        t /= 2.0;
      }
      return false;
    };
    // Where the Newton step does not climb (a nearly singular covariance, or kinks that cut
    // it), each multiplier moves by its own Newton step, the way its gradient points: the
    // projected gradient, which always climbs.
    bool taken = search(step);
    if (!taken) {
      for (std::size_t j = 0; j < k; ++j) {
        const double curvature = at.covariance[j * k + j];
        step[j] = curvature > 0.0 ? g[j] / curvature : 0.0;
      }
      taken = search(step);
    }
    if (!taken) break;  // no ascent left at this precision
    theta = next;
    at = evaluate(p, theta, true);
  }
  fit.mu = theta[0];
  fit.lambda.assign(theta.begin() + 1, theta.end());
  fit.iterations = iteration;
  fit.met = std::fabs(p.targets.forward - at.mean[0]) <= kPeriodTolerance;
  for (std::size_t j = 1; j < k; ++j) {
    const PeriodPrice& q = targets.prices[j - 1];
    fit.met = fit.met && at.mean[j] >= q.bid - kPeriodTolerance &&
              at.mean[j] <= q.ask + kPeriodTolerance;
  }
  return fit;
}

}  // namespace


// The mix sum_i a_i outcome_i, sum a_i = 1, whose residuals' mix is least in size (least
// squares on the differences of the residuals); empty when the system is singular.
std::vector<double> andersonMix(const std::vector<std::vector<double>>& outcomes,
                                const std::vector<std::vector<double>>& residuals) {
  const std::size_t m = outcomes.size();
  if (m < 2) return {};
  const std::size_t n = residuals.back().size();
  // Minimise |r_last - sum_j g_j (r_last - r_j)| over g (j < m - 1), then
  // mix = x_last - sum_j g_j (x_last - x_j).
  const std::size_t k = m - 1;
  std::vector<double> a(k * k, 0.0);
  std::vector<double> b(k, 0.0);
  for (std::size_t p = 0; p < k; ++p) {
    for (std::size_t i = 0; i < n; ++i) {
      const double dp = residuals[m - 1][i] - residuals[p][i];
      b[p] += dp * residuals[m - 1][i];
      for (std::size_t q = 0; q < k; ++q) {
        a[p * k + q] += dp * (residuals[m - 1][i] - residuals[q][i]);
      }
    }
  }
  // Gaussian elimination with partial pivoting.
  for (std::size_t c = 0; c < k; ++c) {
    std::size_t pivot = c;
    for (std::size_t r = c + 1; r < k; ++r) {
      if (std::fabs(a[r * k + c]) > std::fabs(a[pivot * k + c])) pivot = r;
    }
    if (!(std::fabs(a[pivot * k + c]) > 1e-300)) return {};
    for (std::size_t q = 0; q < k; ++q) std::swap(a[c * k + q], a[pivot * k + q]);
    std::swap(b[c], b[pivot]);
    for (std::size_t r = c + 1; r < k; ++r) {
      const double f = a[r * k + c] / a[c * k + c];
      for (std::size_t q = c; q < k; ++q) a[r * k + q] -= f * a[c * k + q];
      b[r] -= f * b[c];
    }
  }
  std::vector<double> g(k, 0.0);
  for (std::size_t c = k; c-- > 0;) {
    double v = b[c];
    for (std::size_t q = c + 1; q < k; ++q) v -= a[c * k + q] * g[q];
    g[c] = v / a[c * k + c];
  }
  std::vector<double> mix = outcomes[m - 1];
  for (std::size_t j = 0; j < k; ++j) {
    for (std::size_t i = 0; i < n; ++i) mix[i] -= g[j] * (outcomes[m - 1][i] - outcomes[j][i]);
  }
  for (double v : mix) {
    if (!std::isfinite(v)) return {};
  }
  return mix;
}

// Whether each of `mix`'s numbers has the sign (or the 0) of `outcome`'s, the forwards' mu
// aside: a mixed multiplier may not cross its kink.
bool sameSigns(const std::vector<double>& mix, const std::vector<double>& outcome) {
  for (std::size_t i = 0; i < mix.size(); ++i) {
    if ((mix[i] > 0.0) != (outcome[i] > 0.0) || (mix[i] < 0.0) != (outcome[i] < 0.0)) {
      return false;
    }
  }
  return true;
}

std::vector<double> flatFits(const std::vector<PeriodFit>& fits, bool unsignedZero) {
  std::vector<double> flat;
  for (const PeriodFit& f : fits) {
    flat.push_back(unsignedZero && f.mu == 0.0 ? 0.0 : f.mu);
    flat.insert(flat.end(), f.lambda.begin(), f.lambda.end());
  }
  return flat;
}

void setFlatFits(const std::vector<double>& flat, std::vector<PeriodFit>& fits) {
  std::size_t at = 0;
  for (PeriodFit& f : fits) {
    f.mu = flat[at++];
    for (double& l : f.lambda) l = flat[at++];
  }
}

std::vector<double> SweepMix::next(const std::vector<double>& start,
                                   const std::vector<double>& outcome) {
  std::vector<double> residual(outcome.size());
  for (std::size_t i = 0; i < outcome.size(); ++i) residual[i] = outcome[i] - start[i];
  outcomes_.push_back(outcome);
  residuals_.push_back(residual);
  if (outcomes_.size() > kMixedSweeps) {
    outcomes_.erase(outcomes_.begin());
    residuals_.erase(residuals_.begin());
  }
  std::vector<double> mixed = andersonMix(outcomes_, residuals_);
  if (!mixed.empty() && !sameSigns(mixed, outcome)) mixed.clear();
  return mixed;
}

}  // namespace empricer
