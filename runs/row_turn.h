// What every valued row of a run shares, the manual run's one row and each batch row alike:
// the valuer's tools, the warnings, the tally of the figures' accuracy, the picture's marks
// beside the rows.
#pragma once

#include <cstdint>
#include <functional>

#include "runs/cycle_notice.h"
#include "runs/row_sink.h"
#include "runs/runs.h"
#include "runs/smile_plot.h"
#include "engine/rows/row_valuer.h"

namespace empricer {

// The standard errors when they are shown, and the figures the run's sinks want.
FigureChoice figureChoice(const RunContext& run);
// What a valuer of the run works with: the run's queue, generator and dist.csv, the figures
// it chooses, and `temporaryFile` for rows valued on their own (nullptr: none).
ValuerTools valuerTools(RunContext& run, const char* temporaryFile);
// The most repeats of the generator's cycle of any valued row of the run's range.
std::uint64_t mostRepeats(const RowValuer& valuer, const RunRows& rows);
// The standard errors as the report and Batch_Result.csv show them: only with --std-errors.
const StandardErrors* shownErrors(const RunContext& run, const RowFigures& figures);
// With --calibrate and --plot (`run.tableSmile`): the valued rows of `rows`' range valued
// again without the calibration (a simulation's draws from the run's seed, as a run without
// --calibrate draws them), each row's volatility into the picture as the table's own smile.
Status drawTableSmile(RunContext& run, const RunRows& rows);
// With --calibrate: each calibrated S0's quoted prices into `plot`, the out-of-the-money side
// of a strike where both are quoted, at K / forward of the expiry.
void drawCalibrationQuotes(const RunContext& run, SmilePlot& plot,
                           const ValuationRequest& common);
// The market's quote of a row, when --quotes gives one.
MarketQuote quoteOf(const RunContext& run, const ValuationRequest& request);
// The one warning of a run about a row past the generator's cycle.
void warnOfCycle(RunContext& run, std::int64_t row, const ValuationDraws& draws);
// The rows whose figures may be further from their limits than their bounds, told once at
// the end of a run.
class AccuracyTally final : public RowSink {
 public:
  Status row(const ValuedRow& row) override;
  // The tally's warnings, once a run: how many rows, and the worst.
  void warn(RunContext& run) const;

 private:
  std::int64_t rows_ = 0;       // with an estimate above its bound
  double worst_ = 0.0;          // the largest ratio of an estimate to its bound
  std::int64_t worstRow_ = 0;
  int worstFigure_ = -1;
  std::int64_t nanRows_ = 0;    // with figures that are not numbers
  std::int64_t firstNanRow_ = 0;
  std::int64_t combRows_ = 0;   // held to no bound: sums of a comb of steps
  std::int64_t firstCombRow_ = 0;
  std::int64_t unformedRows_ = 0;  // with a figure beyond the largest double
  std::int64_t firstUnformedRow_ = 0;
  int firstUnformedFigure_ = -1;
};
// Once a run, when dist.csv (as last read) has an implausible day under the steps in force.
void warnOfDay(RunContext& run);
// The one warning of a run about the rows the valuer cannot value, which it skips: `count`
// rows from row `row` on, and why the first is skipped.
void warnOfSkips(RunContext& run, std::int64_t row, std::int64_t count, const std::string& why);

}  // namespace empricer
