#include "engine/exact/exact_valuation.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstring>
#include <future>
#include <limits>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/desk/desk_figures.h"
#include "engine/exact/step_comb.h"
#include "engine/desk/valuation_figures.h"

namespace empricer {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();
// Terminal laws kept for later rows, in bytes of their tail sums or spectra.
constexpr std::size_t kKeptTerminalBytes = std::size_t{24} << 20;

// The terminal price of one path: start x e^X, X of `law`; a start of 0 stays 0, and so does
// every row that takes no step (law == nullptr: X = 0).
class PriceLaw {
 public:
  PriceLaw(double start, const TerminalLaw* law) : start_(start), law_(law) {}

  double mean() const { return start_ * expMean(); }
  // P(S > c) and E[S 1{S > c}].
  double probabilityAbove(double c) const { return above(c).probability; }
  double meanAbove(double c) const { return above(c).expectation; }
  // P(S < c).
  double probabilityBelow(double c) const {
    if (start_ > 0.0) {
      if (!(c > 0.0)) return c == c ? 0.0 : kNaN;
      return 1.0 - tail(std::log(c / start_), true).probability;
    }
    if (start_ < 0.0) {
      if (!(c < 0.0)) return c == c ? 1.0 : kNaN;
      return tail(std::log(c / start_), false).probability;
    }
    return start_ == 0.0 ? (0.0 < c ? 1.0 : 0.0) : kNaN;
  }
  // E[(S - K)+] and E[(K - S)+], from one look at the tail above K.
  struct Payoffs {
    double call;
    double put;
    double meanAbove;  // E[1{S > K} S]
  };
  Payoffs payoffs(double strike) const {
    const TailFigures a = above(strike);
    return {a.expectation - strike * a.probability,
            strike * (1.0 - a.probability) - (mean() - a.expectation), a.expectation};
  }
  // E[S 1{c S > K}] for a bump factor c.
  double meanScaledAbove(double c, double strike) const {
    if (c > 0.0) return meanAbove(strike / c);
    if (c < 0.0) return mean() - above(strike / c, true).expectation;
    return 0.0 > strike ? mean() : 0.0;
  }
  double variance() const {
    if (law_ == nullptr) return 0.0;
    return start_ * start_ * law_->expVariance;
  }
  // Var(S)^0.5, a number also where Var(S) is beyond a double.
  double spread() const {
    if (law_ == nullptr) return 0.0;
    return std::fabs(start_) * law_->expSpread;
  }

 private:
  double expMean() const { return law_ == nullptr ? 1.0 : law_->expMean; }
  TailFigures tail(double x, bool orEqual) const {
    if (law_ == nullptr) {
      const bool in = 0.0 > x || (orEqual && x == 0.0);
      return {in ? 1.0 : 0.0, in ? 1.0 : 0.0};
    }
    return tailAbove(*law_, x, orEqual);
  }
  // P(S > c) (or >= c) and E[S; the same event].
  TailFigures above(double c, bool orEqual = false) const {
    if (start_ > 0.0) {
      if (!(c > 0.0)) {
        if (c != c) return {kNaN, kNaN};
        return {1.0, mean()};
      }
      const TailFigures t = tail(std::log(c / start_), orEqual);
      return {t.probability, start_ * t.expectation};
    }
    if (start_ < 0.0) {
      if (!(c < 0.0)) {
        if (c != c) return {kNaN, kNaN};
        return {0.0, 0.0};
      }
      // S > c when e^X < c / S.
      const TailFigures t = tail(std::log(c / start_), !orEqual);
      return {1.0 - t.probability, start_ * (expMean() - t.expectation)};
    }
    if (start_ == 0.0) {
      const bool in = 0.0 > c || (orEqual && c == 0.0);
      return {in ? 1.0 : 0.0, 0.0};
    }
    return {kNaN, kNaN};
  }

  double start_;
  const TerminalLaw* law_;
};

// A row's figures as one flat list, so that lattices can be combined figure by figure.
constexpr std::size_t kResultCount = sizeof(ValuationResult) / sizeof(double);
constexpr std::size_t kDeskCount = sizeof(DeskFigures) / sizeof(double);
static_assert(sizeof(DeskFigures) == kDeskCount * sizeof(double));
// After the result and the desk figures: the two probabilities of profit.
constexpr std::size_t kProfitAt = kResultCount + kDeskCount;
using FlatFigures = ExactModel::FlatFigures;
static_assert(std::tuple_size<FlatFigures>::value == kProfitAt + 2);

FlatFigures flatten(const ValuationResult& result, const DeskFigures& desk,
                    double profitCall = kNaN, double profitPut = kNaN) {
  FlatFigures flat{};
  std::memcpy(flat.data(), &result, sizeof result);
  std::memcpy(flat.data() + kResultCount, &desk, sizeof desk);
  flat[kProfitAt] = profitCall;
  flat[kProfitAt + 1] = profitPut;
  return flat;
}

void unflatten(const FlatFigures& flat, RowFigures& figures) {
  std::memcpy(&figures.result, flat.data(), sizeof figures.result);
  std::memcpy(&figures.desk, flat.data() + kResultCount, sizeof figures.desk);
  figures.profitCall = flat[kProfitAt];
  figures.profitPut = flat[kProfitAt + 1];
}

// The bound of each flat figure (0 for the figures not held to one: the implied volatilities,
// the gamma, and the probabilities when they are off).
FlatFigures boundsOf(const ValuationRequest& request, const FigureChoice& choice,
                     const MarketQuote& quote) {
  ValuationResult result{};
  DeskFigures desk{};
  const double spot = std::fabs(request.spot);
  result.callValue = result.putValue = result.stdevS = kExactPriceBound * spot;
  for (int p = 0; p < kPathCount; ++p) {
    const double start = std::fabs(startPriceOfPath(request, p)) * kExactPriceBound;
    if (p != kBasePath) {
      result.shiftCall[shiftIndexOfPath(p)] = start;
      result.shiftPut[shiftIndexOfPath(p)] = start;
    }
    result.thetaCall[p] = result.thetaPut[p] = start;
    if (request.withProbabilities) result.probCall[p] = result.probPut[p] = kExactUnitBound;
    if (choice.desk) {
      desk.forward[p] = start;
      desk.deltaCall[p] = desk.deltaPut[p] = kExactUnitBound;
    }
  }
  return flatten(result, desk, quote.call == quote.call ? kExactUnitBound : 0.0,
                 quote.put == quote.put ? kExactUnitBound : 0.0);
}


// A row's expectations on one lattice, from each path's price laws (total weight 1).
RowExpectations expectationsOf(const ValuationRequest& request, const std::vector<PriceLaw>& end,
                               const std::vector<PriceLaw>& before, const FigureChoice& choice,
                               double bump) {
  RowExpectations e;
  e.total = 1.0;
  e.gammaDefined = true;
  e.bump = bump;
  e.desk.up = 1.0 + bump;
  e.desk.down = 1.0 - bump;
  for (int p = 0; p < kPathCount; ++p) {
    const auto at = static_cast<std::size_t>(p);
    const PriceLaw::Payoffs atEnd = end[at].payoffs(request.strike);
    e.payoffs.call[p] = atEnd.call;
    e.payoffs.put[p] = atEnd.put;
    if (request.days >= 2) {
      const PriceLaw::Payoffs dayBefore = before[at].payoffs(request.strike);
      e.payoffs.dayBeforeCall[p] = dayBefore.call;
      e.payoffs.dayBeforePut[p] = dayBefore.put;
    }
    if (p == kBasePath) e.variance = end[at].variance();
    if (choice.desk) {
      e.desk.terminal[p] = end[at].mean();
      e.desk.above[p] = atEnd.meanAbove;
      e.desk.aboveUp[p] = end[at].meanScaledAbove(e.desk.up, request.strike);
      e.desk.aboveDown[p] = end[at].meanScaledAbove(e.desk.down, request.strike);
    }
  }
  return e;
}

// The probabilities beyond the thresholds of the row's values and its quote.
WinMasses massesOf(const ValuationRequest& request, const std::vector<PriceLaw>& end,
                   const MarketQuote& quote, const ValuationResult& result) {
  const WinThresholds at = winThresholds(request, result, quote);
  WinMasses masses;
  if (request.withProbabilities) {
    for (int p = 0; p < kPathCount; ++p) {
      const PriceLaw& law = end[static_cast<std::size_t>(p)];
      masses.call[p] = law.probabilityAbove(at.call[p]);
      masses.put[p] = law.probabilityBelow(at.put[p]);
    }
  }
  if (quote.any()) {
    const PriceLaw& base = end[static_cast<std::size_t>(kBasePath)];
    masses.profitCall = base.probabilityAbove(at.profitCall);
    masses.profitPut = base.probabilityBelow(at.profitPut);
  }
  return masses;
}

// Whether a figure held to a bound is beyond a double on a lattice that gives every figure a
// number: its levels are numbers, one of them or the extrapolation infinite.
bool beyondDouble(const FlatFigures (&levels)[3], std::size_t i, double fine) {
  bool infinite = !std::isfinite(fine);
  for (const FlatFigures& level : levels) {
    if (std::isnan(level[i])) return false;
    infinite = infinite || std::isinf(level[i]);
  }
  return infinite;
}

// The finer of the two Richardson extrapolations of three lattices into `best`, figure by
// figure; the largest ratio of an error estimate to its bound and its figure. A figure beyond
// a double has no estimate: it is the infinity of its levels (NaN where they differ in sign),
// and the first such figure is named.
ExactError extrapolate(const FlatFigures (&levels)[3], const FlatFigures& bounds,
                       FlatFigures& best) {
  ExactError worst;
  for (std::size_t i = 0; i < best.size(); ++i) {
    const double coarse = levels[1][i] + (levels[1][i] - levels[0][i]) / 3.0;
    const double fine = levels[2][i] + (levels[2][i] - levels[1][i]) / 3.0;
    best[i] = fine;
    if (bounds[i] > 0.0 && beyondDouble(levels, i, fine)) {
      const double last = levels[2][i];
      const bool oneInfinity = std::isinf(last) && levels[0][i] == last && levels[1][i] == last;
      if (oneInfinity) best[i] = last;
      if (worst.unformedFigure < 0) worst.unformedFigure = static_cast<int>(i);
      continue;
    }
    if (bounds[i] > 0.0) {
      const double estimate = std::fabs(fine - coarse) / 7.0;
      const double ratio = estimate / bounds[i];
      // A NaN ratio counts as the worst until a number follows it.
      if (!(ratio <= worst.worstRatio)) {
        worst.worstRatio = ratio;
        worst.worstFigure = static_cast<int>(i);
      }
    }
  }
  return worst;
}

// A figure within `bound` of an end of [low, high] (or beyond it) is that end; NaN stays.
double snapped(double x, double low, double high, double bound) {
  if (x < low + bound) return low;
  if (x > high - bound) return high;
  return x;
}

// A value or a spread: 0 when below its bound (never negative).
double atLeastZero(double x, double bound) { return x < bound ? 0.0 : x; }

// A figure of either sign: 0 when its size is below its bound.
double zeroBelow(double x, double bound) { return std::fabs(x) < bound ? 0.0 : x; }

double& callOfPath(ValuationResult& r, int p) {
  return p == kBasePath ? r.callValue : r.shiftCall[shiftIndexOfPath(p)];
}
double& putOfPath(ValuationResult& r, int p) {
  return p == kBasePath ? r.putValue : r.shiftPut[shiftIndexOfPath(p)];
}

// The desk figures of path p made sound: the deltas in their no-arbitrage ranges (delta_call
// between 0 and D = d x forward / start, delta_put between 0 and -D), and no implied
// volatility where the value it comes from is on or beyond its no-arbitrage bounds (such as a
// value set to 0): that volatility would be fitted to the lattice's rounding.
void soundDesk(const ValuationRequest& request, const FigureChoice& choice,
               const RowFigures& bounds, int p, RowFigures& figures) {
  DeskFigures& desk = figures.desk;
  const double range =
      discountOf(request) * desk.forward[p] / startPriceOfPath(request, p);
  if (std::isfinite(range)) {
    const double bound = bounds.desk.deltaCall[p];
    desk.deltaCall[p] =
        snapped(desk.deltaCall[p], std::fmin(0.0, range), std::fmax(0.0, range), bound);
    desk.deltaPut[p] =
        snapped(desk.deltaPut[p], std::fmin(0.0, -range), std::fmax(0.0, -range), bound);
  }
  const double year = yearlyVolatility(request, callValueOfPath(figures.result, p),
                                       putValueOfPath(figures.result, p), desk.forward[p],
                                       choice.tradingDays);
  if (std::isnan(year)) desk.ivDay[p] = desk.ivYear[p] = kNaN;
}

// An extrapolated row made sound: no figure a limit cannot be. A value, the spread or a theta
// whose size is below its bound is 0, and no value or spread is negative; a probability within
// its bound of 0 or 1 (or beyond) is 0 or 1; the desk figures as soundDesk. A figure further
// from its limit than its bound is left alone otherwise: its error ratio tells.
void makeSound(const ValuationRequest& request, const FigureChoice& choice,
               const FlatFigures& flatBounds, RowFigures& figures) {
  RowFigures bounds;
  unflatten(flatBounds, bounds);
  ValuationResult& r = figures.result;
  const ValuationResult& b = bounds.result;
  r.stdevS = atLeastZero(r.stdevS, b.stdevS);
  for (int p = 0; p < kPathCount; ++p) {
    callOfPath(r, p) = atLeastZero(callValueOfPath(r, p), callValueOfPath(b, p));
    putOfPath(r, p) = atLeastZero(putValueOfPath(r, p), putValueOfPath(b, p));
    r.thetaCall[p] = zeroBelow(r.thetaCall[p], b.thetaCall[p]);
    r.thetaPut[p] = zeroBelow(r.thetaPut[p], b.thetaPut[p]);
    if (request.withProbabilities) {
      r.probCall[p] = snapped(r.probCall[p], 0.0, 1.0, b.probCall[p]);
      r.probPut[p] = snapped(r.probPut[p], 0.0, 1.0, b.probPut[p]);
    }
    if (choice.desk) soundDesk(request, choice, bounds, p, figures);
  }
  if (bounds.profitCall > 0.0) {
    figures.profitCall = snapped(figures.profitCall, 0.0, 1.0, bounds.profitCall);
  }
  if (bounds.profitPut > 0.0) {
    figures.profitPut = snapped(figures.profitPut, 0.0, 1.0, bounds.profitPut);
  }
}

}  // namespace

std::string exactFigureName(int index) {
  static const char* const kPaths[kPathCount] = {"shift1", "shift2", "base", "shift3",
                                                 "shift4"};
  static const char* const kDesk[] = {"forward",    "iv_day",    "iv_year",
                                      "delta_call", "delta_put", "gamma"};
  if (index < 0 || static_cast<std::size_t>(index) >= ExactModel::kFlatCount) return "";
  const auto i = static_cast<std::size_t>(index);
  const auto path = [](int p) { return std::string(kPaths[p]) + " "; };
  // The result: the base path's values and spread, the shifted paths' values, then the
  // probabilities and thetas by path; the desk figures by path; the probabilities of profit.
  if (i < 3) return path(kBasePath) + (i == 0 ? "call" : i == 1 ? "put" : "stdev");
  if (i < 11) return path(kShiftedPathIndex[(i - 3) % 4]) + (i < 7 ? "call" : "put");
  if (i < kResultCount) {
    static const char* const kByPath[] = {"prob_call", "prob_put", "theta_call", "theta_put"};
    return path(static_cast<int>((i - 11) % kPathCount)) + kByPath[(i - 11) / kPathCount];
  }
  if (i < kProfitAt) {
    const std::size_t at = i - kResultCount;
    return path(static_cast<int>(at % kPathCount)) + kDesk[at / kPathCount];
  }
  return path(kBasePath) + (i == kProfitAt ? "pop_call" : "pop_put");
}

int latticeFor(const DrawTable& draws) {
  double sum = 0.0;
  double squares = 0.0;
  double count = 0.0;
  for (double w : draws.returnFor) {
    const double step = std::log1p(w);
    if (!std::isfinite(step)) continue;
    sum += step;
    squares += step * step;
    count += 1.0;
  }
  int intervals = kExactFirstIntervals;
  if (count < 2.0) return intervals;
  const double mean = sum / count;
  const double spread = std::sqrt(std::max(squares / count - mean * mean, 0.0));
  const double band = std::log(kUpperBand) - std::log(kLowerBand);
  while (intervals < kExactMostFirstIntervals && band / intervals > spread) intervals *= 2;
  return intervals;
}

ExactModel::ExactModel(const DrawTable& draws, const ExactSetup& setup)
    : draws_(draws),
      growth_(setup.growth),
      stepsPerDay_(setup.stepsPerDay),
      threads_(setup.threads),
      firstIntervals_(setup.firstIntervals > 0 ? setup.firstIntervals : latticeFor(draws)),
      lastIntervals_(setup.lastIntervals > 0 ? setup.lastIntervals
                                             : latticeFor(draws) * kExactClimb),
      tilt_(setup.tilt),
      calibration_(setup.calibration) {
  for (double w : draws_.returnFor) infiniteStep_ = infiniteStep_ || std::isinf(w);
  unfinished_.defined = false;
}
ExactModel::~ExactModel() = default;

const DayLaw& ExactModel::day(PathKind kind, int intervals, const WorkWatch& watch) {
  const auto key = std::make_pair(static_cast<int>(kind), intervals);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = days_.find(key);
    if (found != days_.end()) return *found->second;
  }
  auto law =
      std::make_unique<DayLaw>(dayLaw(steps(kind), intervals, stepsPerDay_, false, &watch));
  if (watch.stopped()) return unfinished_;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto [at, added] = days_.emplace(key, std::move(law));
  return *at->second;
}

const StepLaw& ExactModel::steps(PathKind kind) {
  // The draws are sorted once, for both kinds and all lattices.
  std::call_once(sortOnce_, [&] { sorted_ = sortedReturns(draws_); });
  std::call_once(stepsOnce_[static_cast<int>(kind)], [&] {
    steps_[static_cast<int>(kind)] = stepLaw(sorted_, kind, growth_, tilt_);
  });
  return steps_[static_cast<int>(kind)];
}

std::int64_t ExactModel::combedDays() {
  std::call_once(combOnce_, [&] {
    combedDays_ = empricer::combedDays(combStrength(steps(PathKind::base)), kExactMostDays,
                                       stepsPerDay_);
  });
  return combedDays_;
}

bool ExactModel::kept(PathKind kind, int intervals, int days) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = [&](int d) {
    // A law of points is kept under 0 spacings (terminal).
    const int at = ofPoints(d) ? 0 : intervals;
    return terminals_.count(std::make_tuple(static_cast<int>(kind), at, d)) > 0;
  };
  return found(days) && (days < 2 || found(days - 1));
}

std::shared_ptr<const TerminalLaw> ExactModel::terminal(PathKind kind, int intervals, int days,
                                                        const WorkWatch& watch) {
  // A law of points is the same on every lattice.
  if (ofPoints(days)) intervals = 0;
  const auto key = std::make_tuple(static_cast<int>(kind), intervals, days);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = terminals_.find(key);
    if (found != terminals_.end()) return found->second;
  }
  LatticeMeasure* const calibratedMeasure = calibrated() ? measure(intervals, watch) : nullptr;
  if (watch.stopped()) {
    TerminalLaw none;
    none.defined = false;
    return std::make_shared<const TerminalLaw>(std::move(none));
  }
  auto law = std::make_shared<const TerminalLaw>(
      calibratedMeasure != nullptr ? calibratedMeasure->marginal(kind, days)
      : ofPoints(days)             ? oneStepLaw(steps(kind))
                                   : terminalLaw(day(kind, intervals, watch), days));
  if (watch.stopped()) return law;
  const std::size_t bytes = (law->tail.size() + law->expTail.size()) * sizeof(double) +
                            (law->masses.terms.size() + law->tilted.terms.size()) *
                                sizeof(std::complex<double>);
  std::lock_guard<std::mutex> lock(mutex_);
  if (terminalBytes_ + bytes > kKeptTerminalBytes) {
    terminals_.clear();
    terminalBytes_ = 0;
  }
  const auto [at, added] = terminals_.emplace(key, law);
  if (added) terminalBytes_ += bytes;
  return at->second;
}

LatticeMeasure* ExactModel::measure(int intervals, const WorkWatch& watch) {
  // The day laws first: they take the model's own lock.
  const DayLaw& base = day(PathKind::base, intervals, watch);
  const DayLaw& shifted = day(PathKind::shifted, intervals, watch);
  if (watch.stopped()) return nullptr;
  std::lock_guard<std::mutex> lock(measureMutex_);
  auto& slot = measures_[intervals];
  if (slot == nullptr) {
    slot = std::make_unique<LatticeMeasure>(base, shifted, calibration_);
    // The multipliers of the next coarser lattice are a close start.
    const auto coarser = measures_.find(intervals / 2);
    if (coarser != measures_.end() && coarser->second != nullptr) {
      slot->startFrom(coarser->second->fits());
    }
    slot->calibrate(watch);
    if (watch.stopped()) {
      measures_.erase(intervals);
      return nullptr;
    }
  }
  return slot.get();
}

LatticeCalibration ExactModel::calibrationAt(int intervals, const WorkWatch& watch) {
  LatticeCalibration c;
  c.intervals = intervals;
  LatticeMeasure* const found = measure(intervals, watch);
  if (found == nullptr) return c;
  LatticeMeasure& m = *found;
  std::lock_guard<std::mutex> lock(measureMutex_);
  c.met = m.met();
  c.sweeps = m.sweeps();
  c.relativeEntropy = m.relativeEntropy();
  c.forwards = m.forwards();
  c.prices = m.modelPrices();
  c.bands = m.bands();
  c.fits = m.fits();
  return c;
}

void ExactModel::lawsAt(const ValuationRequest& request, int intervals, RowLaws& laws,
                        const WorkWatch& watch) {
  auto lawsOf = [&](int kind) {
    const auto k = static_cast<PathKind>(kind);
    laws.terminal[kind] = terminal(k, intervals, request.days, watch);
    if (request.days >= 2) {
      laws.dayBefore[kind] = terminal(k, intervals, request.days - 1, watch);
    }
  };
  // The two kinds of path are independent: the shifted paths' laws on a second thread, when
  // they are still to be worked out and a thread can be had. The watch is asked here while
  // that thread works on.
  std::thread shifted;
  std::promise<void> shiftedDone;
  std::future<void> shiftedEnd = shiftedDone.get_future();
  if (threads_ >= 2 && !kept(PathKind::shifted, intervals, request.days)) {
    try {
      shifted = std::thread([&] {
        lawsOf(1);
        shiftedDone.set_value();
      });
    } catch (const std::system_error&) {
      // No thread: both kinds on this one.
    }
  }
  lawsOf(0);
  if (shifted.joinable()) {
    while (shiftedEnd.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
      watch.goOn();
    }
    shifted.join();
  } else {
    lawsOf(1);
  }
}

ExactModel::FlatFigures ExactModel::figuresAt(const ValuationRequest& request,
                                              const FigureChoice& choice,
                                              const MarketQuote& quote, int intervals,
                                              double bump, const WorkWatch& watch) {
  RowLaws laws;
  if (request.days >= 1) {
    lawsAt(request, intervals, laws, watch);
    if (watch.stopped() || !laws.terminal[0]->defined || !laws.terminal[1]->defined) {
      FlatFigures none;
      none.fill(kNaN);
      return none;
    }
  }
  // Each path's price laws at the end and a day before; a start of 0 meets an infinite step
  // factor as 0 x infinity: no law, no figure.
  std::vector<PriceLaw> end;
  std::vector<PriceLaw> before;
  for (int p = 0; p < kPathCount; ++p) {
    const int kind = p == kBasePath ? 0 : 1;
    const double start = startPriceOfPath(request, p) == 0.0 && infiniteStep_ &&
                                 request.days >= 1
                             ? kNaN
                             : startPriceOfPath(request, p);
    end.emplace_back(start, laws.terminal[kind].get());
    before.emplace_back(start, laws.dayBefore[kind].get());
  }
  RowFigures figures = formValues(request, expectationsOf(request, end, before, choice, bump),
                                  choice);
  // A variance beyond a double (thousands of days of growth) may still have a spread that
  // is a number: it is formed from the law's own.
  if (std::isinf(figures.result.stdevS)) {
    figures.result.stdevS =
        end[static_cast<std::size_t>(kBasePath)].spread() * std::sqrt(discountOf(request));
  }
  if (wantsWins(request, quote)) {
    formWins(request, quote, massesOf(request, end, quote, figures.result), 1.0, figures);
  }
  return flatten(figures.result, figures.desk, figures.profitCall, figures.profitPut);
}

RowFigures ExactModel::value(const ValuationRequest& request, const FigureChoice& choice,
                             ExactError& error, const WorkWatch& watch,
                             const MarketQuote& quote) {
  const double bump = choice.desk ? gammaBump(draws_, request.days, stepsPerDay_) : 0.0;
  // A row that takes no step has its terminal price at its start: no lattice, no error.
  RowFigures figures{};
  if (request.days < 1) {
    unflatten(figuresAt(request, choice, quote, 0, bump, watch), figures);
    error = ExactError{};
  } else {
    const FlatFigures bounds = boundsOf(request, choice, quote);
    FlatFigures levels[3];
    int finest = firstIntervals_ * 4;
    levels[0] = figuresAt(request, choice, quote, firstIntervals_, bump, watch);
    watch.done(1.0 / 21.0);  // each lattice costs about four times the one before
    levels[1] = figuresAt(request, choice, quote, firstIntervals_ * 2, bump, watch);
    watch.done(5.0 / 21.0);
    levels[2] = figuresAt(request, choice, quote, finest, bump, watch);
    watch.done(1.0);
    FlatFigures best{};
    ExactError worst = extrapolate(levels, bounds, best);
    while (worst.worstRatio > 1.0 && finest < lastIntervals_) {
      finest *= 2;
      levels[0] = levels[1];
      levels[1] = levels[2];
      levels[2] = figuresAt(request, choice, quote, finest, bump, watch);
      if (watch.stopped()) break;
      worst = extrapolate(levels, bounds, best);
    }
    unflatten(best, figures);
    makeSound(request, choice, bounds, figures);
    error = worst;
    error.intervals = finest;
    if (!ofPoints(request.days) && request.days <= combedDays() &&
        !std::isnan(error.worstRatio)) {
      error.worstRatio = kInfinity;
      error.worstFigure = -1;
    }
  }
  if (!request.withProbabilities) {
    std::fill(std::begin(figures.result.probCall), std::end(figures.result.probCall), 0.0);
    std::fill(std::begin(figures.result.probPut), std::end(figures.result.probPut), 0.0);
  }
  std::fill(std::begin(figures.errors.call), std::end(figures.errors.call), kNaN);
  std::fill(std::begin(figures.errors.put), std::end(figures.errors.put), kNaN);
  figures.errorRatio = error.worstRatio;
  figures.errorFigure = error.worstFigure;
  figures.unformedFigure = error.unformedFigure;
  return figures;
}

}  // namespace empricer
