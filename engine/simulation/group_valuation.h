// A group: options on one underlying price, each with its own strike and days, valued on one
// shared set of trajectories run to the longest expiry. Each row takes every trajectory's
// prices at the end of its own days (and a day before) as its terminal distribution, and its
// pricer turns them into the row's figures by the rules of a single valuation of those days.
// A single valuation is a group of one row: the manual run, every batch row and every chain
// are completed here, by one function.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "engine/desk/desk_figures.h"
#include "engine/table/distribution_cache.h"
#include "engine/exact/lattice_measure.h"
#include "engine/exact/sample_measure.h"
#include "engine/table/random_generator.h"
#include "engine/valuation/records.h"
#include "engine/desk/row_figures.h"
#include "engine/valuation/row_pricer.h"
#include "engine/simulation/valuation_queue.h"
#include "text/status.h"

namespace empricer {

struct GroupRow {
  double strike;
  std::int32_t days;
  MarketQuote quote{};
};

// Whom a completion tells how far it is and what it does with the temporary file.
struct CompletionWatch {
  // Called now and then with the share of the group's trajectories done so far; answers
  // whether to go on (false: the completion stops with a failure of kind stopped).
  std::function<bool(double share)> progress;
  // The temporary file about to be opened, then just opened for writing or emptied (nullptr
  // when it could not be), and, with the probabilities on, its end (removed, or left as a
  // failure leaves it).
  std::function<void()> temporaryOpening;
  std::function<void(std::FILE* stream)> temporaryOpened;
  std::function<void()> temporaryDone;
};

// A group as the queue and the completion see it.
struct GroupPlan {
  // The rows' spot, rate, step fraction, shifts, trajectories and probabilities (its strike
  // and days are not used).
  ValuationRequest common;
  std::vector<GroupRow> rows;
  // The temporary file of a single valuation's terminal prices (nullptr for none): created or
  // emptied by every completion, written with the probabilities on, then removed.
  const char* temporaryFile = nullptr;
  // The days after which prices are kept (each row's last day and the day before it, the start
  // for rows that run no step), ascending; which of them are some row's last; and where each
  // row finds its prices among them (the day before: -1 when days < 2).
  std::vector<std::int32_t> keptDays;
  std::vector<bool> terminal;
  std::size_t terminalDays = 0;  // how many of them are
  std::vector<std::size_t> rowEnd;
  std::vector<std::ptrdiff_t> rowDayBefore;
  // Whether the read-back terminal prices are kept in memory for the winning probabilities;
  // otherwise the trajectories run a second time for them.
  bool keepReadBack = false;
  std::uint32_t firstState = 0;  // the generator's state at the first draw (enqueueGroup)
  // With a calibration (--calibrate): the S0's quoted expiries (units of S0). Their days are
  // kept too, at keptDays[expiryAt[e]], and every path's trajectories are weighted by the
  // measure calibrated on them (engine/exact/sample_measure.h).
  std::vector<ExpiryQuotes> calibration;
  std::vector<double> calibrationForwards;  // the table's forward at each, units of S0
  std::vector<std::size_t> expiryAt;
  // The threads the weighting of a calibrated group's trajectories may use.
  int threads = 1;
};

// The longest days of `rows` that run a step (0 when none does).
std::int32_t groupDays(const std::vector<GroupRow>& rows);

// The read-back terminal prices are kept for the winning probabilities up to this size; a
// larger group runs its trajectories a second time instead.
constexpr std::size_t kKeptReadBackBytes = std::size_t{64} << 20;

GroupPlan planGroup(const ValuationRequest& common, std::vector<GroupRow> rows,
                    const char* temporaryFile = nullptr,
                    std::size_t keptReadBackBytes = kKeptReadBackBytes,
                    std::vector<ExpiryQuotes> calibration = {});
// The days the group's trajectories run: its longest row's, or its last quoted expiry's.
std::int32_t simulatedDays(const GroupPlan& plan);
// A single valuation: the group of its one row.
GroupPlan planSingle(const ValuationRequest& request, const char* temporaryFile,
                     std::size_t keptReadBackBytes = kKeptReadBackBytes,
                     const MarketQuote& quote = {});

// Hands the group's trajectories to `queue`, the first draw following the generator's state,
// which it moves past the group's draws (trajectories x 270 x groupDays).
void enqueueGroup(ValuationQueue& queue, GroupPlan& plan, RandomGenerator& generator);

// Completes the oldest valuation of `queue`, which must be `plan`'s: reads the distribution
// file into `distribution`, adds up each row's trajectories in order, and fills `values`, one
// per row. Positions 12 to 21 (the winning probabilities) are filled only when the plan asks
// for them; they compare each terminal price as it reads back from its six-digit text. Fails,
// with the message the program stops with, when the distribution does not load (the
// valuation then stays queued), or when the temporary file cannot be made (it is never opened
// through a symbolic link), written or closed while the probabilities are on.
// With a calibration, `measure` (when given) receives the measure calibrated on the paths.
Status completeGroup(ValuationQueue& queue, DistributionCache& distribution,
                     const char* distributionFile, const GroupPlan& plan,
                     const FigureChoice& choice, std::vector<RowFigures>& values,
                     const CompletionWatch& watch = {}, SampleMeasure* measure = nullptr);

}  // namespace empricer
