// What every valued row of a run shares, the manual run's one row and each batch row alike:
// the valuer's tools, the warnings, the results file and smile picture it goes into.
#pragma once

#include <cstdint>
#include <functional>

#include "runs/cycle_notice.h"
#include "runs/runs.h"
#include "engine/rows/row_valuer.h"

namespace empricer {

// The standard errors when they are shown or the desk figures are wanted; the desk figures
// when the results file or the smile picture is.
FigureChoice figureChoice(const RunContext& run);
// What a valuer of the run works with: the run's queue, generator and dist.csv, the figures
// it chooses, and `temporaryFile` for rows valued on their own (nullptr: none).
ValuerTools valuerTools(RunContext& run, const char* temporaryFile);
// The most repeats of the generator's cycle of any valued row of the run's range.
std::uint64_t mostRepeats(const RowValuer& valuer, const RunRows& rows);
// The standard errors as the report and Batch_Result.csv show them: only with --std-errors.
const StandardErrors* shownErrors(const RunContext& run, const RowFigures& figures);
// A valued row (counted as --rows counts, 1 for a manual run) into the results file and the
// smile picture, each when given; `cycleRepeats` for the results file's cycle column.
Status writeDeskRow(RunContext& run, std::int64_t row, const ValuationRequest& request,
                    const RowFigures& figures, std::uint64_t cycleRepeats);
// With --calibrate and --plot: the valued rows of `rows`' range valued again without the
// calibration (a simulation's draws from the run's seed, as a run without --calibrate draws
// them), each row's volatility into the picture as the table's own smile.
Status drawTableSmile(RunContext& run, const RunRows& rows);
// With --calibrate and --plot: each calibrated S0's quoted prices into the picture, the
// out-of-the-money side of a strike where both are quoted, at K / forward of the expiry.
void drawCalibrationQuotes(RunContext& run, const ValuationRequest& common);
// The market's quote of a row, when --quotes gives one.
MarketQuote quoteOf(const RunContext& run, const ValuationRequest& request);
// The one warning of a run about a row past the generator's cycle.
void warnOfCycle(RunContext& run, std::int64_t row, const ValuationDraws& draws);
// Row `row`'s figures into the run's tally of figures that may be further from their limits
// than their bounds.
void noteAccuracy(RunContext& run, std::int64_t row, const RowFigures& figures);
// The tally's warnings, once a run: how many rows, and the worst.
void warnOfAccuracy(RunContext& run);
// Once a run, when dist.csv (as last read) has an implausible day under the steps in force.
void warnOfDay(RunContext& run);
// The one warning of a run about the rows the valuer cannot value, which it skips: `count`
// rows from row `row` on, and why the first is skipped.
void warnOfSkips(RunContext& run, std::int64_t row, std::int64_t count, const std::string& why);

}  // namespace empricer
