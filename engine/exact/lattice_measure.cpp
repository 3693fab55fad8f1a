#include "engine/exact/lattice_measure.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>

#include "engine/exact/exp_kernels.h"
#include "engine/exact/fourier.h"

namespace empricer {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Masses below this share of the largest are rounding of the transforms, and 0.
constexpr double kNoMass = 1e-25;
constexpr int kMostSweeps = 100;
// The sweeps end when no expiry's fit began further than this (units of S0) from where it
// ended: every expiry is met, with the others as they are, to a small fraction of the bound
// the figures are held to.
constexpr double kSweepTolerance = 1e-9;
// The masses cleaned of the transforms' rounding and trimmed to the points that hold mass.
void clean(LatticeMasses& out) {
  double largest = 0.0;
  for (double m : out.mass) largest = std::max(largest, m);
  for (double& m : out.mass) {
    if (!(m > kNoMass * largest)) m = 0.0;
  }
  std::size_t from = 0;
  std::size_t to = out.mass.size();
  while (from < to && out.mass[from] == 0.0) ++from;
  while (to > from && out.mass[to - 1] == 0.0) --to;
  out.mass.erase(out.mass.begin() + static_cast<std::ptrdiff_t>(to), out.mass.end());
  out.mass.erase(out.mass.begin(), out.mass.begin() + static_cast<std::ptrdiff_t>(from));
  out.first += static_cast<std::int64_t>(from);
}

// a * b, cleaned of the transforms' rounding and trimmed to the points that hold mass.
LatticeMasses convolve(const LatticeMasses& a, const LatticeMasses& b) {
  LatticeMasses out;
  if (a.mass.empty() || b.mass.empty()) return out;
  const std::size_t count = a.mass.size() + b.mass.size() - 1;
  out.first = a.first + b.first;
  if (a.mass.size() == 1 || b.mass.size() == 1) {
    const LatticeMasses& one = a.mass.size() == 1 ? a : b;
    const LatticeMasses& other = a.mass.size() == 1 ? b : a;
    out.mass = other.mass;
    for (double& m : out.mass) m *= one.mass[0];
    return out;
  }
  const std::size_t size = powerOfTwoAtLeast(count);
  std::vector<std::complex<double>> x(size, {0.0, 0.0});
  std::vector<std::complex<double>> y(size, {0.0, 0.0});
  for (std::size_t i = 0; i < a.mass.size(); ++i) x[i] = {a.mass[i], 0.0};
  for (std::size_t i = 0; i < b.mass.size(); ++i) y[i] = {b.mass[i], 0.0};
  const FourierTransform fourier(size);
  fourier.forward(x);
  fourier.forward(y);
  for (std::size_t i = 0; i < size; ++i) x[i] *= y[i];
  fourier.inverse(x);
  out.mass.resize(count);
  double largest = 0.0;
  const double scale = 1.0 / static_cast<double>(size);
  for (std::size_t i = 0; i < count; ++i) {
    out.mass[i] = x[i].real() * scale;
    largest = std::max(largest, out.mass[i]);
  }
  for (double& m : out.mass) {
    if (!(m > kNoMass * largest)) m = 0.0;
  }
  std::size_t from = 0;
  std::size_t to = count;
  while (from < to && out.mass[from] == 0.0) ++from;
  while (to > from && out.mass[to - 1] == 0.0) --to;
  out.mass = std::vector<double>(out.mass.begin() + static_cast<std::ptrdiff_t>(from),
                                 out.mass.begin() + static_cast<std::ptrdiff_t>(to));
  out.first += static_cast<std::int64_t>(from);
  return out;
}

// g(k) = sum_j t(j - k) v(j): v carried back over the days of t.
LatticeMasses correlate(const LatticeMasses& t, const LatticeMasses& v) {
  LatticeMasses reversed;
  reversed.first = -(t.first + static_cast<std::int64_t>(t.mass.size()) - 1);
  reversed.mass.assign(t.mass.rbegin(), t.mass.rend());
  return convolve(reversed, v);
}

// The products of the complex numbers a_i and b_i into out_i (real and imaginary parts
// interleaved; out may be a), written out: the library's product checks for infinities on
// every call. In doubles, which the compiler keeps in registers.
void productOf(const double* a, const double* b, double* out, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const double ar = a[2 * i];
    const double ai = a[2 * i + 1];
    const double br = b[2 * i];
    const double bi = b[2 * i + 1];
    out[2 * i] = ar * br - ai * bi;
    out[2 * i + 1] = ar * bi + ai * br;
  }
}

// z^n by squaring, the products written out.
std::complex<double> raised(std::complex<double> z, int n) {
  double zr = z.real();
  double zi = z.imag();
  double rr = 1.0;
  double ri = 0.0;
  while (n > 0) {
    if ((n & 1) != 0) {
      const double r = rr * zr - ri * zi;
      ri = rr * zi + ri * zr;
      rr = r;
    }
    const double r = zr * zr - zi * zi;
    zi = zr * zi + zi * zr;
    zr = r;
    n >>= 1;
  }
  return {rr, ri};
}

double sumOf(const std::vector<double>& v) {
  double s = 0.0;
  for (double x : v) s += x;
  return s;
}

// The prices e^(k spacing) of the points k = first, first + 1, ... (count of them).
std::vector<double> pricesOf(std::int64_t first, std::size_t count, double spacing) {
  std::vector<double> x(count);
  for (std::size_t i = 0; i < count; ++i) {
    x[i] = static_cast<double>(first + static_cast<std::int64_t>(i)) * spacing;
  }
  expOfEach(x.data(), 0.0, x.data(), count);
  return x;
}

// The value of `at` at point k (0 outside it).
double valueAt(const LatticeMasses& at, std::int64_t k) {
  const std::int64_t i = k - at.first;
  if (i < 0 || i >= static_cast<std::int64_t>(at.mass.size())) return 0.0;
  return at.mass[static_cast<std::size_t>(i)];
}

}  // namespace

StrikeBands strikeBands(const ExpiryQuotes& expiry, double forward, double slack) {
  StrikeBands bands;
  bands.targets.forward = forward;
  std::map<double, std::size_t> byStrike;
  for (std::size_t j = 0; j < expiry.prices.size(); ++j) {
    const PeriodPrice& q = expiry.prices[j];
    // A put's band as the call's: C = P + d (F - K).
    const double move = q.call ? 0.0 : q.discount * (forward - q.strike);
    PeriodPrice call{true, q.strike, q.discount, q.bid + move, q.ask + move};
    const auto [at, added] = byStrike.emplace(q.strike, bands.targets.prices.size());
    if (added) {
      bands.targets.prices.push_back(call);
    } else {
      PeriodPrice& band = bands.targets.prices[at->second];
      band.bid = std::max(band.bid, call.bid);
      band.ask = std::min(band.ask, call.ask);
      if (band.bid > band.ask) {
        // Bands that miss each other by no more than the lattice's forward may be off meet at
        // their middle; beyond that, the parity contradicts the forward.
        if (band.bid > band.ask + slack) {
          if (bands.parityAt < 0) bands.parityAt = static_cast<std::ptrdiff_t>(j);
        } else {
          band.bid = band.ask = (band.bid + band.ask) / 2.0;
        }
      }
    }
    bands.bandOf.push_back(at->second);
  }
  return bands;
}

LatticeMeasure::LatticeMeasure(const DayLaw& base, const DayLaw& shifted,
                               std::vector<ExpiryQuotes> expiries)
    : base_(base), shifted_(shifted), expiries_(std::move(expiries)) {
  for (const ExpiryQuotes& e : expiries_) {
    StrikeBands none;
    none.bandOf.assign(e.prices.size(), 0);
    bands_.push_back(none);
    fits_.push_back(PeriodFit{});
  }
}

LatticeMasses LatticeMeasure::convolveDays(const LatticeMasses& a, PathKind kind, int days,
                                           bool backward, SpectraBySize* inputSpectra,
                                           std::size_t input) {
  const DayLaw& day = kind == PathKind::base ? base_ : shifted_;
  const NodeWindow window =
      days >= 1 && day.defined && !day.certain ? sumWindow(day, days) : NodeWindow{0, 0};
  const auto width = static_cast<std::size_t>(window.end - window.first + 1);
  if (a.mass.size() < 2 || width < 2) {
    const LatticeMasses& t = daysOf(kind, days);
    return backward ? correlate(t, a) : convolve(a, t);
  }
  // The sum of days' spectrum is the day's raised to the days, on a length that holds the
  // result's window; what the sum of days holds beyond its window (below 1e-18) wraps around.
  const std::size_t count = a.mass.size() + width - 1;
  const std::size_t size =
      std::max<std::size_t>(powerOfTwoAtLeast(std::max(count, day.mass.size())), 4);
  const RealFourierTransform& fourier = fourierOf(size);
  auto& spectra = spectra_[static_cast<int>(kind)];
  const auto dayKey = std::make_tuple(static_cast<int>(kind), 1, size, false);
  auto dayFound = spectra.find(dayKey);
  if (dayFound == spectra.end()) {
    std::vector<std::complex<double>> spectrum;
    fourier.forward(day.mass, spectrum);
    dayFound = spectra.emplace(dayKey, std::move(spectrum)).first;
  }
  // Carrying B back takes the sum of days reversed: its spectrum's conjugate. The passes ask
  // for the same sums of days sweep after sweep, and keep their spectra; a row's day between
  // expiries (with `inputSpectra`) works its own out in the kind's room.
  Scratch& room = scratch_[static_cast<int>(kind)];
  const auto key = std::make_tuple(static_cast<int>(kind), days, size, backward);
  auto found = spectra.find(key);
  const std::vector<std::complex<double>>* sum = nullptr;
  if (found != spectra.end()) {
    sum = &found->second;
  } else {
    std::vector<std::complex<double>>& spectrum =
        inputSpectra != nullptr ? room.sum : spectra[key];
    spectrum.resize(dayFound->second.size());
    for (std::size_t i = 0; i < spectrum.size(); ++i) {
      spectrum[i] = raised(dayFound->second[i], days);
      if (backward) spectrum[i] = std::conj(spectrum[i]);
    }
    sum = &spectrum;
  }
  std::vector<std::complex<double>>& x = room.spectrum;
  const std::vector<std::complex<double>>* of = nullptr;
  if (inputSpectra != nullptr) {
    std::vector<std::complex<double>>& kept = (*inputSpectra)[std::make_pair(input, size)];
    if (kept.empty()) fourier.forward(a.mass, kept, room.work);
    of = &kept;
  } else {
    fourier.forward(a.mass, x, room.work);
    of = &x;
  }
  x.resize(sum->size());
  productOf(reinterpret_cast<const double*>(of->data()),
            reinterpret_cast<const double*>(sum->data()), reinterpret_cast<double*>(x.data()),
            x.size());
  std::vector<double>& cyclic = room.cyclic;
  fourier.inverse(x, cyclic, size, room.work);
  // Node J of the sum lies J - days x intervals / 2 points from 0, and sits at J in the cycle.
  const std::int64_t half = static_cast<std::int64_t>(days) * (day.intervals / 2);
  const auto n = static_cast<std::int64_t>(size);
  LatticeMasses out;
  out.first = backward ? a.first - (window.end - half) : a.first + (window.first - half);
  const std::int64_t from = backward ? -window.end : window.first;
  out.mass.resize(count);
  const double scale = 1.0 / static_cast<double>(size);
  // Point q of the result sits at (from + q) mod n in the cycle: one turn of it at most.
  auto p = static_cast<std::size_t>((from % n + n) % n);
  for (std::size_t q = 0; q < count; ++q) {
    out.mass[q] = cyclic[p] * scale;
    if (++p == size) p = 0;
  }
  clean(out);
  return out;
}

const RealFourierTransform& LatticeMeasure::fourierOf(std::size_t size) {
  std::lock_guard<std::mutex> lock(transformsMutex_);
  auto& slot = transforms_[size];
  if (slot == nullptr) slot = std::make_unique<RealFourierTransform>(size);
  return *slot;
}

const LatticeMasses& LatticeMeasure::daysOf(PathKind kind, int days) {
  const auto key = std::make_pair(static_cast<int>(kind), days);
  auto& sums = sums_[static_cast<int>(kind)];
  const auto found = sums.find(key);
  if (found != sums.end()) return found->second;
  LatticeMasses masses;
  if (days == 0) {
    masses.mass.assign(1, 1.0);
  } else {
    const DayLaw& day = kind == PathKind::base ? base_ : shifted_;
    const NodeMasses nodes = sumOfDays(day, days, &sumTransforms_);
    masses.first = nodes.first - static_cast<std::int64_t>(days) * (day.intervals / 2);
    masses.mass = nodes.mass;
    for (double& m : masses.mass) m = std::max(m, 0.0);
  }
  return sums.emplace(key, std::move(masses)).first->second;
}

std::vector<double> LatticeMeasure::tiltOn(std::size_t e, const LatticeMasses& at) const {
  // The points ascend.
  return tiltsAlong(tiltLine(bands_[e].targets, fits_[e]),
                    pricesOf(at.first, at.mass.size(), base_.spacing));
}

void LatticeMeasure::fitExpiry(std::size_t e, const LatticeMasses& cavity,
                               const LatticeMasses& behind, bool& allMet) {
  const std::vector<double> x = pricesOf(cavity.first, cavity.mass.size(), base_.spacing);
  std::vector<double> w(cavity.mass.size());
  const auto last = static_cast<std::int64_t>(behind.mass.size()) - 1;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const std::int64_t k = cavity.first + static_cast<std::int64_t>(i);
    const std::int64_t at = std::clamp<std::int64_t>(k - behind.first, 0, last);
    w[i] = cavity.mass[i] * behind.mass[static_cast<std::size_t>(at)];
  }
  fits_[e] = fitPeriod(x, w, bands_[e].targets, fits_[e]);
  allMet = allMet && fits_[e].met && fits_[e].startResidual <= kSweepTolerance;
}

void LatticeMeasure::forwardPass(PathKind kind, Chain& chain, bool fit, bool& allMet) {
  const std::size_t m = expiries_.size();
  fit = fit && chain.backward && chain.behind.size() == m;
  chain.cavity.assign(m, {});
  chain.ahead.assign(m, {});
  chain.tilted.clear();
  chain.aheadSpectra.clear();
  chain.tiltedSpectra.clear();
  chain.logScale.assign(m, 0.0);
  LatticeMasses previous{0, {1.0}};
  double logPrevious = 0.0;
  int previousDays = 0;
  for (std::size_t e = 0; e < m; ++e) {
    LatticeMasses cavity = convolveDays(previous, kind, expiries_[e].days - previousDays, false);
    const double total = sumOf(cavity.mass);
    for (double& c : cavity.mass) c /= total;
    const double logCavity = logPrevious + std::log(total);
    if (fit) fitExpiry(e, cavity, chain.behind[e], allMet);
    const std::vector<double> tilt = tiltOn(e, cavity);
    double top = -kInfinity;
    for (std::size_t i = 0; i < tilt.size(); ++i) {
      if (cavity.mass[i] > 0.0) top = std::max(top, tilt[i]);
    }
    LatticeMasses ahead = cavity;
    std::vector<double> factor(tilt.size());
    expOfEach(tilt.data(), top, factor.data(), tilt.size());
    for (std::size_t i = 0; i < tilt.size(); ++i) ahead.mass[i] *= factor[i];
    const double kept = sumOf(ahead.mass);
    for (double& a : ahead.mass) a /= kept;
    chain.logScale[e] = logCavity + top + std::log(kept);
    chain.cavity[e] = std::move(cavity);
    chain.ahead[e] = ahead;
    previous = std::move(ahead);
    logPrevious = chain.logScale[e];
    previousDays = expiries_[e].days;
  }
}

LatticeMasses LatticeMeasure::tiltedBehind(std::size_t e, const LatticeMasses& cavity,
                                           const LatticeMasses& behind) const {
  const std::vector<double> tilt = tiltOn(e, cavity);
  double top = -kInfinity;
  for (std::size_t i = 0; i < tilt.size(); ++i) {
    if (cavity.mass[i] > 0.0 && behind.mass[i] > 0.0) top = std::max(top, tilt[i]);
  }
  LatticeMasses carried = behind;
  std::vector<double> factor(tilt.size());
  expOfEach(tilt.data(), top, factor.data(), tilt.size());
  for (std::size_t i = 0; i < tilt.size(); ++i) {
    carried.mass[i] = cavity.mass[i] > 0.0 ? carried.mass[i] * factor[i] : 0.0;
  }
  return carried;
}

LatticeMasses LatticeMeasure::carriedBack(std::size_t e, PathKind kind,
                                          const LatticeMasses& cavity,
                                          const LatticeMasses& behind, int days) {
  return convolveDays(tiltedBehind(e, cavity, behind), kind, days, true);
}

void LatticeMeasure::backwardPass(PathKind kind, Chain& chain, bool fit, bool& allMet) {
  const std::size_t m = expiries_.size();
  chain.behind.assign(m, {});
  chain.tilted.clear();
  chain.tiltedSpectra.clear();
  LatticeMasses behind = chain.cavity[m - 1];
  std::fill(behind.mass.begin(), behind.mass.end(), 1.0);
  for (std::size_t e = m; e-- > 0;) {
    const LatticeMasses& cavity = chain.cavity[e];
    if (fit) fitExpiry(e, cavity, behind, allMet);
    chain.behind[e] = behind;
    if (e == 0) break;
    // B_{e-1} on the cavity of e - 1: h_e B_e carried back over the days between.
    const LatticeMasses back =
        carriedBack(e, kind, cavity, behind, expiries_[e].days - expiries_[e - 1].days);
    const LatticeMasses& before = chain.cavity[e - 1];
    behind.first = before.first;
    behind.mass.assign(before.mass.size(), 0.0);
    double largest = 0.0;
    for (std::size_t i = 0; i < before.mass.size(); ++i) {
      behind.mass[i] = valueAt(back, before.first + static_cast<std::int64_t>(i));
      largest = std::max(largest, behind.mass[i]);
    }
    if (largest > 0.0) {
      for (double& b : behind.mass) b /= largest;
    }
  }
  chain.backward = true;
}

bool LatticeMeasure::calibrate(const WorkWatch& watch) {
  std::lock_guard<std::recursive_mutex> lock(kindMutex_[0]);
  auto chain = std::make_unique<Chain>();
  bool unused = true;
  forwardPass(PathKind::base, *chain, false, unused);
  forwards_.clear();
  for (const LatticeMasses& cavity : chain->cavity) {
    // With no tilt yet, each cavity is P's law of Y_e.
    double forward = 0.0;
    for (std::size_t i = 0; i < cavity.mass.size(); ++i) {
      forward += cavity.mass[i] *
                 std::exp(static_cast<double>(cavity.first + static_cast<std::int64_t>(i)) *
                          base_.spacing);
    }
    forwards_.push_back(forward);
  }
  met_ = false;
  for (std::size_t e = 0; e < expiries_.size(); ++e) {
    bands_[e] = strikeBands(expiries_[e], forwards_[e]);
    fits_[e] = PeriodFit{};
    fits_[e].lambda.assign(bands_[e].targets.prices.size(), 0.0);
    if (e < start_.size() && start_[e].lambda.size() == fits_[e].lambda.size()) {
      fits_[e].mu = start_[e].mu;
      fits_[e].lambda = start_[e].lambda;
    }
    if (bands_[e].parityAt >= 0) return false;
  }
  // A sweep is a forward pass and a backward pass that fits the expiries from the last; the
  // sweeps end when one found every expiry met. The multipliers a sweep leaves, as a function
  // of those it began with, converge slowly where the expiries lean on each other: each sweep
  // begins from the mix of the last few sweeps' outcomes whose residuals (outcome less start)
  // cancel best (Anderson's mixing), as long as the mix keeps every multiplier's sign.
  SweepMix mix;
  for (sweeps_ = 1; sweeps_ <= kMostSweeps; ++sweeps_) {
    if (!watch.goOn()) return false;
    // The first pass ran before any multiplier was set: a start from a coarser lattice's
    // multipliers needs the cavities they make.
    if (sweeps_ > 1 || !start_.empty()) forwardPass(PathKind::base, *chain, false, unused);
    const std::vector<double> start = flatFits(fits_, true);
    bool allMet = true;
    backwardPass(PathKind::base, *chain, true, allMet);
    if (allMet) {
      met_ = true;
      break;
    }
    const std::vector<double> mixed = mix.next(start, flatFits(fits_, true));
    if (!mixed.empty()) setFlatFits(mixed, fits_);
  }
  sweeps_ = std::min(sweeps_, kMostSweeps);
  forwardPass(PathKind::base, *chain, false, unused);
  bool ignored = true;
  backwardPass(PathKind::base, *chain, false, ignored);
  chains_[0] = std::move(chain);
  chains_[1].reset();
  if (!met_) {
    // The last sweep's fits may each be met on their own: say whether all are, together.
    const std::vector<std::vector<double>> prices = modelPrices();
    met_ = true;
    for (std::size_t e = 0; e < expiries_.size(); ++e) {
      for (std::size_t j = 0; j < prices[e].size(); ++j) {
        const PeriodPrice& q = expiries_[e].prices[j];
        met_ = met_ && prices[e][j] >= q.bid - 1e-9 && prices[e][j] <= q.ask + 1e-9;
      }
    }
  }
  return met_;
}

LatticeMeasure::Chain& LatticeMeasure::chainOf(PathKind kind) {
  auto& chain = chains_[static_cast<int>(kind)];
  if (chain == nullptr) {
    chain = std::make_unique<Chain>();
    bool unused = true;
    forwardPass(kind, *chain, false, unused);
    bool ignored = true;
    backwardPass(kind, *chain, false, ignored);
  }
  return *chain;
}

TerminalLaw LatticeMeasure::marginal(PathKind kind, int days) {
  std::lock_guard<std::recursive_mutex> lock(kindMutex_[static_cast<int>(kind)]);
  Chain& chain = chainOf(kind);
  const DayLaw& day = kind == PathKind::base ? base_ : shifted_;
  const std::size_t m = expiries_.size();
  // The last expiry at or before the day, and the first after it.
  std::size_t after = 0;
  while (after < m && expiries_[after].days <= days) ++after;
  LatticeMasses law;
  if (after > 0 && expiries_[after - 1].days == days) {
    law = chain.ahead[after - 1];
    const LatticeMasses& behind = chain.behind[after - 1];
    for (std::size_t i = 0; i < law.mass.size(); ++i) {
      law.mass[i] *= valueAt(behind, law.first + static_cast<std::int64_t>(i));
    }
  } else {
    // Between expiries, the spectra of A before and of h B after are kept for other days.
    const int from = after > 0 ? expiries_[after - 1].days : 0;
    law = after > 0 ? convolveDays(chain.ahead[after - 1], kind, days - from, false,
                                   &chain.aheadSpectra, after - 1)
                    : convolveDays(LatticeMasses{0, {1.0}}, kind, days, false);
    if (after < m) {
      auto tilted = chain.tilted.find(after);
      if (tilted == chain.tilted.end()) {
        tilted = chain.tilted
                     .emplace(after, tiltedBehind(after, chain.cavity[after], chain.behind[after]))
                     .first;
      }
      const LatticeMasses back = convolveDays(tilted->second, kind, expiries_[after].days - days,
                                              true, &chain.tiltedSpectra, after);
      for (std::size_t i = 0; i < law.mass.size(); ++i) {
        law.mass[i] *= valueAt(back, law.first + static_cast<std::int64_t>(i));
      }
    }
  }
  const double total = sumOf(law.mass);
  for (double& x : law.mass) x /= total;
  NodeMasses nodes;
  nodes.first = law.first + static_cast<std::int64_t>(days) * (day.intervals / 2);
  nodes.mass = law.mass;
  double atomLow = 0.0;
  double atomHigh = 0.0;
  if (days == 1 && !nodes.mass.empty()) {
    // The point masses at the band's ends keep their share of their nodes.
    const auto n = static_cast<std::int64_t>(day.intervals);
    if (nodes.first == 0 && day.mass[0] > 0.0) atomLow = day.atomLow * nodes.mass[0] / day.mass[0];
    const std::int64_t top = n - nodes.first;
    if (top >= 0 && top < static_cast<std::int64_t>(nodes.mass.size()) &&
        day.mass[static_cast<std::size_t>(n)] > 0.0) {
      atomHigh = day.atomHigh * nodes.mass[static_cast<std::size_t>(top)] /
                 day.mass[static_cast<std::size_t>(n)];
    }
  }
  return lawOfNodes(day, days, nodes, atomLow, atomHigh);
}

std::vector<std::vector<double>> LatticeMeasure::modelPrices() {
  std::lock_guard<std::recursive_mutex> lock(kindMutex_[0]);
  Chain& chain = chainOf(PathKind::base);
  std::vector<std::vector<double>> prices;
  for (std::size_t e = 0; e < expiries_.size(); ++e) {
    const LatticeMasses& ahead = chain.ahead[e];
    const LatticeMasses& behind = chain.behind[e];
    std::vector<double> q(ahead.mass.size());
    for (std::size_t i = 0; i < q.size(); ++i) {
      q[i] = ahead.mass[i] * valueAt(behind, ahead.first + static_cast<std::int64_t>(i));
    }
    const double total = sumOf(q);
    std::vector<double> row(expiries_[e].prices.size(), 0.0);
    for (std::size_t i = 0; i < q.size(); ++i) {
      const double x = std::exp(static_cast<double>(ahead.first + static_cast<std::int64_t>(i)) *
                                base_.spacing);
      for (std::size_t j = 0; j < row.size(); ++j) {
        row[j] += q[i] / total * periodPayoff(expiries_[e].prices[j], x);
      }
    }
    prices.push_back(row);
  }
  return prices;
}

double LatticeMeasure::relativeEntropy() {
  std::lock_guard<std::recursive_mutex> lock(kindMutex_[0]);
  Chain& chain = chainOf(PathKind::base);
  // E_Q[sum_e log h_e(X_e)] - log Z, log Z the forward pass's last scale.
  double expected = 0.0;
  for (std::size_t e = 0; e < expiries_.size(); ++e) {
    const LatticeMasses& ahead = chain.ahead[e];
    const LatticeMasses& behind = chain.behind[e];
    const std::vector<double> tilt = tiltOn(e, ahead);
    double total = 0.0;
    double sum = 0.0;
    for (std::size_t i = 0; i < tilt.size(); ++i) {
      const double q = ahead.mass[i] * valueAt(behind, ahead.first + static_cast<std::int64_t>(i));
      total += q;
      if (q > 0.0) sum += q * tilt[i];
    }
    expected += sum / total;
  }
  return std::max(expected - chain.logScale.back(), 0.0);
}

}  // namespace empricer
