// What every valued row of a run shares, the manual run's one row and each batch row alike:
// which figures it works out beside the values, the progress line while it is valued, and the
// results file and smile picture it goes into.
#pragma once

#include <cstdint>
#include <functional>

#include "app/cycle_notice.h"
#include "app/runs.h"
#include "engine/group_valuation.h"

namespace empricer {

// The standard errors when they are shown or the desk figures are wanted; the desk figures
// when the results file or the smile picture is.
FigureChoice figureChoice(const RunContext& run);
// What a completion tells: the share of its trajectories done to the progress line, the
// temporary file it writes to the signal handlers.
CompletionWatch watchOf(RunContext& run);
// The standard errors as the report and Batch_Result.csv show them: only with --std-errors.
const StandardErrors* shownErrors(const RunContext& run, const RowFigures& figures);
// A valued row (counted as --rows counts, 1 for a manual run) into the results file and the
// smile picture, each when given; `cycleRepeats` for the results file's cycle column.
Status writeDeskRow(RunContext& run, std::int64_t row, const ValuationRequest& request,
                    const RowFigures& figures, std::uint64_t cycleRepeats);
// The market's quote of a row, when --quotes gives one.
MarketQuote quoteOf(const RunContext& run, const ValuationRequest& request);
// The one warning of a run on standard error about a row past the generator's cycle.
void warnOfCycle(std::int64_t row, const ValuationDraws& draws);

}  // namespace empricer
