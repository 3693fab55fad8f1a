// The one seam a row's valuation goes through. A run hands its rows to a valuer, chosen once
// for the run, and asks for each row's figures in row order; how they come about (trajectories
// simulated row by row or by chains of one S0, or the exact law of the terminal prices) is the
// valuer's own. Every valuer forms its figures in engine/desk/row_figures.h, so a figure means the
// same whichever valuer made it. Another source of weighted terminal prices is one more
// implementation of RowValuer and one more ValuationMethod.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/quotes/calibration_quotes.h"
#include "engine/table/distribution_cache.h"
#include "engine/simulation/group_valuation.h"
#include "engine/table/random_generator.h"
#include "engine/valuation/records.h"
#include "engine/desk/row_figures.h"
#include "engine/simulation/valuation_queue.h"
#include "text/status.h"

namespace empricer {

// A row of a run: what it asks for beyond the run's settings.
struct RunRow {
  double spot = 0.0;
  double strike = 0.0;
  std::int32_t days = 0;
  bool valued = true;  // false: its days are out of range, and it is skipped
  MarketQuote quote{};
};

// The rows of a run and the range of them it values: a batch's data rows (or a shard of
// them), or a manual run's one row.
struct RunRows {
  ValuationRequest common;  // every row's request but its spot, strike and days
  std::vector<RunRow> rows;
  std::size_t first = 0;  // the run values rows [first, end)
  std::size_t end = 0;
};

// The request of row `r`.
ValuationRequest requestOf(const RunRows& rows, std::size_t r);

// The draws of one valuation from the generator: `trajectories` trajectories of `days` days
// (for a chain, the days of its group's longest row); none for a law.
struct ValuationDraws {
  std::int32_t trajectories = 0;
  std::int32_t days = 0;
  std::int32_t stepsPerDay = kDefaultStepsPerDay;
  std::uint64_t draws() const;
  std::uint64_t repeats() const;  // how many times the draws wrap around the generator's cycle
};

// The valued rows of one S0 (0.0 and -0.0 are one; each NaN row is a group of its own), in
// the order of their first rows, each with its longest days that run a step.
struct SpotGroups {
  struct Group {
    std::vector<std::size_t> rows;  // in row order
    std::int32_t days = 0;
  };
  std::vector<Group> groups;
  std::vector<std::size_t> groupOf;  // by row; only valued rows have one
};
SpotGroups groupsBySpot(const std::vector<RunRow>& rows);

class RowValuer {
 public:
  virtual ~RowValuer() = default;
  // The figures of valued row `r` of the run's range; rows are asked for in ascending order,
  // each once. Fails with the message the run stops with.
  virtual Status value(std::size_t r, RowFigures& figures) = 0;
  // The draws of row `r`'s valuation.
  virtual ValuationDraws drawsOf(std::size_t r) const = 0;
  // What must hold before any row is valued (the quotes of a calibration): fails with the
  // message the run stops with, before any output is written.
  virtual Status prepare() { return {}; }
  // Whether the valuer can value row `r`; a failure says why not, and the run skips the row
  // and says so.
  virtual Status refusal(std::size_t r) const {
    static_cast<void>(r);
    return {};
  }
};

// How a run's rows are valued.
enum class ValuationMethod {
  simulation,  // each row on its own trajectories
  chains,      // the rows of each S0 on one set of trajectories
  exact,       // each row from the exact law of its terminal prices
};

// What a run's outputs say of how its rows are valued, the same for every row of a run: the
// one place the method's name and the kind of its figures are decided.
struct MethodDescription {
  // The results file's method column.
  const char* name = "simulation";
  // The figures are averages over trajectories drawn from the generator, each with its
  // standard errors: the results file names the trajectories and the seed and fills its
  // standard error columns, the picture names the trajectories and draws error bars. Otherwise
  // they are a law's limits, without standard errors: the results file adds each row's
  // exact_error and vega, and the picture says "exact limits".
  bool sampled = true;
};

// The description of `method`'s valuer.
MethodDescription describeMethod(ValuationMethod method);

// What a valuer works with. The simulations draw from `generator` through `queue`.
struct ValuerTools {
  DistributionCache& distribution;  // read from `distributionFile` before every valuation
  const char* distributionFile;
  FigureChoice choice;
  CompletionWatch watch;
  int threads;
  ValuationQueue& queue;
  RandomGenerator& generator;
  // The file of each row's terminal prices while its probabilities are worked out, for rows
  // valued on their own (nullptr: none, in memory).
  const char* temporaryFile;
  // With --calibrate: the quoted prices by S0 each row is valued under the measure of, and the
  // log each S0's calibration goes to when first made.
  const std::map<double, std::vector<QuotedPrice>>* calibration = nullptr;
  CalibrationLog* calibrationLog = nullptr;
  const char* calibrationFile = "";  // its name in the messages
};

// Before a calibrated run values anything: every valued row's S0 (of the rows the valuer does
// not refuse, running a step) has quotes, or the run is refused (FailureKind refused, naming
// the row and its S0); each S0's quotes are within the paths' reach (calibrationReach). Nothing
// without a calibration. With `forwards`, each S0's table forwards at its expiries (units of
// S0, as tableForwards gives them) go there.
Status checkCalibration(const RunRows& rows, const ValuerTools& tools,
                        const std::function<Status(std::size_t)>& refusal,
                        std::map<double, std::vector<double>>* forwards = nullptr);

// The valuer of `method` for `rows`, which must outlive it.
std::unique_ptr<RowValuer> makeValuer(ValuationMethod method, const RunRows& rows,
                                      const ValuerTools& tools);

}  // namespace empricer
