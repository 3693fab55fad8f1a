// The figures a simulation converges to as its trajectories grow without end, from the exact
// law of the terminal prices (engine/exact/exact_law.h) instead of simulated ones.
//
// Each figure is worked out on lattices of three spacings, halving from one to the next. The
// lattice error falls as the square of the spacing, so two neighbouring lattices extrapolate
// (Richardson) to a figure whose own error falls as the fourth power; the two extrapolations
// differ by 15 times the finer one's error at that order, and the estimate takes a seventh of
// their difference, twice what the fourth order gives. A row whose estimate exceeds its bound
// moves to the next finer three, up to the finest; what is left is reported with the row. A
// table whose steps' law is a comb (engine/exact/step_comb.h) has sums of days that no lattice
// resolves: their rows are reported as held to no bound (an infinite ratio).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "engine/table/draw_table.h"
#include "engine/exact/exact_law.h"
#include "engine/exact/lattice_measure.h"
#include "engine/desk/desk_figures.h"
#include "engine/desk/row_figures.h"
#include "engine/valuation/records.h"
#include "engine/valuation/work_watch.h"

namespace empricer {

// The bounds the figures are held to: values, thetas, forwards and the spread within
// kExactPriceBound x the path's start, probabilities and deltas within kExactUnitBound.
constexpr double kExactPriceBound = 1e-7;
constexpr double kExactUnitBound = 1e-7;

// The lattices: the coarsest has at least kExactFirstIntervals spacings over the band, and
// more (by powers of two) until its spacing is at most the standard deviation of a base
// path's log step (latticeFor); a row climbs at most to kExactClimb times the coarsest.
constexpr int kExactFirstIntervals = 256;
constexpr int kExactClimb = 16;
// The most spacings a coarsest lattice takes, whatever the table.
constexpr int kExactMostFirstIntervals = 8192;
int latticeFor(const DrawTable& draws);

// The most days a row may have: beyond them the sums of days reach no figure a desk can use
// (a forward of e^(days x growth)), and time and memory grow without a bound.
constexpr std::int32_t kExactMostDays = 10000;

// How far a row's figures may be from their limits.
struct ExactError {
  // The largest ratio of a figure's error estimate to its bound (at most 1 when all hold).
  double worstRatio = 0.0;
  // The figure it is of (exactFigureName); -1 for none.
  int worstFigure = -1;
  // The finest lattice the row's figures come from.
  int intervals = 0;
  // The first figure (exactFigureName) beyond the largest double, shown as infinite (NaN where
  // its lattices' infinities differ in sign); -1 for none.
  int unformedFigure = -1;
};

// The name of figure `index` of a row's flat list of figures, as the results file names it:
// its path and its column ("base delta_call").
std::string exactFigureName(int index);

// What an exact model is of, beside its table.
struct ExactSetup {
  double growth = 1.0;  // the shifted paths' growth per step
  int stepsPerDay = kDefaultStepsPerDay;
  // With 2 or more, the base and the shifted paths' laws are worked out side by side; the
  // figures are the same either way.
  int threads = 1;
  StepTilt tilt{};  // the step's law so tilted
  // The coarsest and the finest lattice; 0: latticeFor(draws) and kExactClimb times it. Other
  // ones are for checking the figures against finer ones.
  int firstIntervals = 0;
  int lastIntervals = 0;
  // Quoted expiries (units of S0) to calibrate the paths' measure to (engine/exact/lattice_measure.h):
  // the model is then one S0's; none: the table's own measure.
  std::vector<ExpiryQuotes> calibration{};
};

// A calibration as worked out on one lattice.
struct LatticeCalibration {
  int intervals = 0;
  bool met = false;
  int sweeps = 0;
  double relativeEntropy = 0.0;
  std::vector<double> forwards;             // by expiry, units of S0
  std::vector<std::vector<double>> prices;  // by expiry and price, units of S0
  std::vector<StrikeBands> bands;           // by expiry
  std::vector<PeriodFit> fits;              // by expiry
};

// The day laws of one distribution and one growth per step, kept for any number of rows,
// and the terminal laws of the days the rows ask for. Rows may be valued from several
// threads at once; the figures do not depend on which rows were valued before.
class ExactModel {
 public:
  ExactModel(const DrawTable& draws, const ExactSetup& setup);
  ~ExactModel();
  ExactModel(const ExactModel&) = delete;
  ExactModel& operator=(const ExactModel&) = delete;

  // The figures of `request` (its spot, strike, days, rate, step fraction and shifts; the
  // probabilities when it asks for them). The standard errors are NaN: there is no sampling.
  // `watch` hears the share of the row's lattices done (the first three make the whole; a
  // row that moves on to finer ones stays at the whole) and is asked between the steps of
  // every day's walk; once it says stop, the figures are NaN and not to be used.
  // With a quote, also the base path's probabilities of profit at it.
  RowFigures value(const ValuationRequest& request, const FigureChoice& choice,
                   ExactError& error, const WorkWatch& watch = {},
                   const MarketQuote& quote = {});

  // Whether the model is calibrated to quotes.
  bool calibrated() const { return !calibration_.empty(); }
  // The calibration on the lattice of `intervals` spacings (worked out when first asked for;
  // one that `watch` stopped is not kept, and comes back empty).
  LatticeCalibration calibrationAt(int intervals, const WorkWatch& watch = {});
  // The lattices a row's figures come from first: the coarsest three.
  int firstIntervals() const { return firstIntervals_; }

  // A row's figures as one flat list (the result, the desk figures, the two probabilities of
  // profit), so that lattices can be combined figure by figure.
  static constexpr std::size_t kFlatCount =
      (sizeof(ValuationResult) + sizeof(DeskFigures)) / sizeof(double) + 2;
  using FlatFigures = std::array<double, kFlatCount>;

 private:
  // The terminal laws of a row's two kinds of path, at its end and a day before.
  struct RowLaws {
    std::shared_ptr<const TerminalLaw> terminal[2];
    std::shared_ptr<const TerminalLaw> dayBefore[2];
  };
  void lawsAt(const ValuationRequest& request, int intervals, RowLaws& laws,
              const WorkWatch& watch);
  // The figures of one lattice of `intervals` spacings.
  FlatFigures figuresAt(const ValuationRequest& request, const FigureChoice& choice,
                        const MarketQuote& quote, int intervals, double bump,
                        const WorkWatch& watch);
  // The day law of `kind` on the lattice, kept once whole (a walk the watch stopped is not).
  const DayLaw& day(PathKind kind, int intervals, const WorkWatch& watch = {});
  // The step law of `kind`, worked out once.
  const StepLaw& steps(PathKind kind);
  // The most days whose sums keep a comb of the steps' values (engine/exact/step_comb.h).
  std::int64_t combedDays();
  std::shared_ptr<const TerminalLaw> terminal(PathKind kind, int intervals, int days,
                                              const WorkWatch& watch);
  // Whether a law of `days` is the step's own values: a day of one step (not under a
  // calibration, which lives on the lattice).
  bool ofPoints(int days) const { return stepsPerDay_ == 1 && days == 1 && !calibrated(); }
  // The calibrated measure on the lattice of `intervals` spacings, solved when first asked;
  // nullptr when `watch` stopped its solving (and then not kept).
  LatticeMeasure* measure(int intervals, const WorkWatch& watch);
  // Whether the laws of `days` and the day before are kept.
  bool kept(PathKind kind, int intervals, int days);

  const DrawTable& draws_;
  double growth_;
  int stepsPerDay_;
  int threads_;
  int firstIntervals_;
  int lastIntervals_;
  StepTilt tilt_;
  std::vector<ExpiryQuotes> calibration_;
  std::mutex measureMutex_;
  std::map<int, std::unique_ptr<LatticeMeasure>> measures_;
  bool infiniteStep_ = false;  // some return is infinite
  std::once_flag sortOnce_;
  std::vector<double> sorted_;  // the draws' returns in order
  std::once_flag stepsOnce_[2];
  StepLaw steps_[2];
  std::once_flag combOnce_;
  std::int64_t combedDays_ = 0;
  std::mutex mutex_;
  std::map<std::pair<int, int>, std::unique_ptr<DayLaw>> days_;
  DayLaw unfinished_;  // what a stopped walk gives: not defined
  std::map<std::tuple<int, int, int>, std::shared_ptr<const TerminalLaw>> terminals_;
  std::size_t terminalBytes_ = 0;
};

}  // namespace empricer
