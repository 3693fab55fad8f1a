#include <memory>
#include <string>

#include "runs/elapsed_time.h"
#include "runs/file_names.h"
#include "runs/request_from_settings.h"
#include "runs/row_sink.h"
#include "runs/row_turn.h"
#include "runs/runs.h"
#include "runs/stop.h"
#include "engine/rows/row_valuer.h"
#include "text/number_text.h"

namespace empricer {

namespace {

// Stops writing at the first line that standard output does not take.
Status writeReport(const ValuationRequest& request, const ValuationResult& result,
                   const StandardErrors* errors) {
  const bool probabilities = request.withProbabilities;
  std::string line;
  Status shown;
  auto emit = [&] {
    if (shown.ok()) shown = printLine(line);
    line.clear();
  };
  emit();
  line = "OUTPUT:";
  emit();
  line = "Call Value = ";
  appendNumber(line, result.callValue);
  emit();
  line = "Put Value  = ";
  appendNumber(line, result.putValue);
  emit();
  line = "Stdev of S = ";
  appendNumber(line, result.stdevS);
  emit();
  line = "Theta: Call = ";
  appendNumber(line, result.thetaCall[kBasePath]);
  line += "; Put = ";
  appendNumber(line, result.thetaPut[kBasePath]);
  emit();
  if (probabilities) {
    line = "Winning Probabilities: Call = ";
    appendNumber(line, result.probCall[kBasePath]);
    line += "; Put = ";
    appendNumber(line, result.probPut[kBasePath]);
    emit();
  }
  if (errors != nullptr) {
    line = "Std Error: Call = ";
    appendNumber(line, errors->call[kBasePath]);
    line += "; Put = ";
    appendNumber(line, errors->put[kBasePath]);
    emit();
  }
  emit();
  for (int k = 0; k < 4; ++k) {
    const int p = kShiftedPathIndex[k];
    line = "DdelV OUTPUT ";
    appendInteger(line, k + 1);
    line += ": S0 = ";
    appendNumber(line, request.spot * request.shiftFactor[k]);
    line += "; Return = ";
    appendNumber(line, request.shiftFactor[k]);
    emit();
    line = "    Call Value = ";
    appendNumber(line, result.shiftCall[k]);
    line += "    Put Value = ";
    appendNumber(line, result.shiftPut[k]);
    emit();
    line = "    Theta Call = ";
    appendNumber(line, result.thetaCall[p]);
    line += "    Theta Put = ";
    appendNumber(line, result.thetaPut[p]);
    emit();
    if (probabilities) {
      line = "    Prob: Call = ";
      appendNumber(line, result.probCall[p]);
      line += "; Put = ";
      appendNumber(line, result.probPut[p]);
      emit();
    }
    if (errors != nullptr) {
      line = "    Std Error: Call = ";
      appendNumber(line, errors->call[p]);
      line += "; Put = ";
      appendNumber(line, errors->put[p]);
      emit();
    }
  }
  return shown;
}

}  // namespace

Status runManual(const RunSettings& settings, RunContext& run) {
  if (Status shown = printLine("INPUTS:"); !shown.ok()) return shown;
  // Defined values for answers that cannot be read.
  double spot = 0.0;
  double strike = 0.0;
  std::int32_t days = 0;
  if (Status asked = printText("Underlying Price: "); !asked.ok()) return asked;
  readDouble(run.console, spot);
  if (Status asked = printText("Strike Price: "); !asked.ok()) return asked;
  readDouble(run.console, strike);
  if (Status asked = printText("Time to Maturity (days): "); !asked.ok()) return asked;
  readInteger(run.console, days);

  RunRows rows;
  rows.common = requestFromSettings(settings);
  rows.rows.push_back({spot, strike, days, true, MarketQuote{}});
  rows.end = 1;
  const ValuationRequest request = requestOf(rows, 0);
  rows.rows[0].quote = quoteOf(run, request);
  const std::unique_ptr<RowValuer> valuer =
      makeValuer(run.method, rows, valuerTools(run, kTemporaryFileName));
  // A row the valuer cannot value stops the run: a manual run has no other row.
  if (Status why = valuer->refusal(0); !why.ok()) return Failure{"empricer: " + why.message()};
  if (Status prepared = valuer->prepare(); !prepared.ok()) return prepared;
  const ValuationDraws draws = valuer->drawsOf(0);
  if (draws.repeats() > 0) warnOfCycle(run, 1, draws);
  if (Status begun = beginRows(run.sinks, draws.repeats()); !begun.ok()) return begun;
  RowFigures figures{};
  run.progress.startRow(1, 0);
  const Status valued = valuer->value(0, figures);
  run.progress.clear();
  if (!valued.ok()) return valued;
  // The row's elapsed time counts from the program's start.
  const ValuedRow row{1, request, figures, rows.rows[0].quote, draws.repeats(), run.startTime};
  // The warnings about the figures come before the report.
  AccuracyTally accuracy;
  if (Status noted = accuracy.row(row); !noted.ok()) return noted;
  accuracy.warn(run);
  warnOfDay(run);

  if (Status shown = writeReport(request, figures.result, shownErrors(run, figures));
      !shown.ok()) {
    return shown;
  }
  writeElapsedLine(run.clock, "Elapse time: ", row.startTime);
  if (Status shown = standardOutputWritten(); !shown.ok()) return shown;
  if (Status taken = passRow(run.sinks, row); !taken.ok()) return taken;
  return drawTableSmile(run, rows);
}

}  // namespace empricer
