#include <algorithm>
#include <cstdio>
#include <string>

#include "runs/batch_file.h"
#include "runs/batch_rows.h"
#include "runs/cycle_notice.h"
#include "runs/elapsed_time.h"
#include "runs/file_names.h"
#include "runs/row_sink.h"
#include "runs/row_turn.h"
#include "runs/run_options.h"
#include "runs/runs.h"
#include "runs/stop.h"
#include "text/output_file.h"

namespace empricer {

namespace {

// The console echo of a batch's rows and their lines of Batch_Result.csv: a valued row's
// console lines, then its five lines of the file; a skipped row's line on the console.
class BatchEcho final : public RowSink {
 public:
  BatchEcho(RowFile& results, RunContext& run) : results_(results), run_(run) {}
  Status skip(std::int64_t number, const std::string& why) override {
    static_cast<void>(number);
    return printLine("Skipped row: " + why);
  }
  Status row(const ValuedRow& row) override {
    const StandardErrors* errors = shownErrors(run_, row.figures);
    if (Status shown = writeConsoleRows(row.request, row.figures.result, errors, run_.clock,
                                        row.startTime);
        !shown.ok()) {
      return shown;
    }
    return writeResultRows(results_, row.request, row.figures.result, errors);
  }

 private:
  RowFile& results_;
  RunContext& run_;
};

// Where a batch's rows go beyond the run's sinks: the console and Batch_Result.csv (none for
// rows valued in process, which show nothing there).
struct RowOutputs {
  BatchEcho* echo = nullptr;
  std::int64_t rowsShown = 0;  // for the progress line; 0 when it is off
};

// The rows from `from` to the end of the range that the valuer cannot value.
std::int64_t refusedRows(const RowValuer& valuer, const RunRows& rows, std::size_t from) {
  std::int64_t count = 0;
  for (std::size_t r = from; r < rows.end; ++r) {
    if (rows.rows[r].valued && !valuer.refusal(r).ok()) ++count;
  }
  return count;
}

// The one row loop: everything a row shows happens at its turn, in row order, each output
// of it one of `sinks`.
Status valueRows(const BatchFile& batch, RowValuer& valuer, const RowSinks& sinks,
                 std::int64_t rowsShown, RunContext& run) {
  const RunRows& rows = batch.rows;
  std::int64_t rowsDone = 0;
  bool cycleTold = false;  // one warning a run
  bool skipsTold = false;  // and one about the rows the valuer skips
  for (std::size_t r = rows.first; r < rows.end; ++r) {
    run.progress.startRow(++rowsDone, rowsShown);
    if (run.listen && !run.listen(0.0)) return stoppedFailure();
    const auto number = static_cast<std::int64_t>(r) + 1;
    if (!rows.rows[r].valued) {
      if (Status told = skipRow(sinks, number, "days out of range"); !told.ok()) return told;
      continue;
    }
    if (Status why = valuer.refusal(r); !why.ok()) {
      if (!skipsTold) {
        skipsTold = true;
        warnOfSkips(run, number, refusedRows(valuer, rows, r), why.message());
      }
      if (Status told = skipRow(sinks, number, why.message()); !told.ok()) return told;
      continue;
    }
    const ValuationRequest request = requestOf(rows, r);
    const ValuationDraws draws = valuer.drawsOf(r);
    if (!cycleTold && draws.repeats() > 0) {
      cycleTold = true;
      warnOfCycle(run, number, draws);
    }
    const std::int64_t rowStartTime = run.clock.now();
    RowFigures figures{};
    const Status status = valuer.value(r, figures);
    run.progress.clear();
    if (!status.ok()) return status;
    const ValuedRow row{number,          request,        figures, rows.rows[r].quote,
                        draws.repeats(), rowStartTime};
    if (Status taken = passRow(sinks, row); !taken.ok()) return taken;
  }
  return {};
}

// The valuer of the run's method over the batch, each row with its quote, prepared (its
// calibration's quotes checked); it uses the temporary file when the batch writes its results.
Outcome<std::unique_ptr<RowValuer>> preparedValuer(BatchFile& batch, bool batchResults,
                                                   RunContext& run) {
  for (std::size_t r = 0; r < batch.rows.rows.size(); ++r) {
    RunRow& row = batch.rows.rows[r];
    if (row.valued) row.quote = quoteOf(run, requestOf(batch.rows, r));
  }
  std::unique_ptr<RowValuer> valuer = makeValuer(
      run.method, batch.rows, valuerTools(run, batchResults ? kTemporaryFileName : nullptr));
  if (Status prepared = valuer->prepare(); !prepared.ok()) return failureOf(prepared);
  return valuer;
}

// The batch valued by `made` (or a valuer prepared now); the results file gains its cycle
// column when some row of the range takes more draws than the cycle.
Status valueBatch(BatchFile& batch, const RowOutputs& out, RunContext& run,
                  std::unique_ptr<RowValuer> made = nullptr) {
  if (made == nullptr) {
    Outcome<std::unique_ptr<RowValuer>> prepared =
        preparedValuer(batch, out.echo != nullptr, run);
    if (!prepared.ok()) return failureOf(prepared);
    made = std::move(prepared.value());
  }
  const std::unique_ptr<RowValuer> valuer = std::move(made);
  AccuracyTally accuracy;
  RowSinks sinks = {&accuracy};
  if (out.echo != nullptr) sinks.push_back(out.echo);
  sinks.insert(sinks.end(), run.sinks.begin(), run.sinks.end());
  if (Status begun = beginRows(sinks, mostRepeats(*valuer, batch.rows)); !begun.ok()) {
    return begun;
  }
  Status status = valueRows(batch, *valuer, sinks, out.rowsShown, run);
  accuracy.warn(run);
  warnOfDay(run);
  if (status.ok()) status = drawTableSmile(run, batch.rows);
  return status;
}

}  // namespace

Status valueRowsOf(BatchFile& batch, RunContext& run) {
  chooseRange(batch, run.config.rows.value_or(RowRange{}));
  return valueBatch(batch, RowOutputs{}, run);
}

Status runBatch(const RunSettings& settings, RunContext& run) {
  // The input is opened before the result file is touched, so that a missing input does not
  // wipe the results of an earlier run.
  InputStream stream;
  openForReading(stream, kBatchFileName);
  if (!isOpen(stream)) return openFailure(kBatchFileName);
  // A calibration's quotes are checked against the rows before anything is written: the batch
  // is read first, and a refusal leaves the results of an earlier run as they were.
  BatchFile batch;
  std::unique_ptr<RowValuer> valuer;
  if (run.calibration != nullptr) {
    batch = readBatch(stream, settings);
    closeStream(stream);
    chooseRange(batch, run.config.rows.value_or(RowRange{}));
    Outcome<std::unique_ptr<RowValuer>> prepared = preparedValuer(batch, true, run);
    if (!prepared.ok()) return failureOf(prepared);
    valuer = std::move(prepared.value());
  }
  RowFile results;
  if (Status made = results.create(kResultFileName); !made.ok()) return made;

  const std::string header =
      resultHeader(settings.withProbabilities, run.config.standardErrors) + "\n";
  if (Status written = results.writeRow(header); !written.ok()) return written;
  if (Status shown = printLine("OUTPUTS: "); !shown.ok()) return shown;
  if (run.calibration == nullptr) {
    batch = readBatch(stream, settings);
    closeStream(stream);
  }

  // The rows this run values: all of them, or a shard. Rows before the shard are read, and
  // their draws skipped by jumping the generator ahead, without valuing them.
  const RowRange shard = run.config.rows.value_or(RowRange{});
  const auto batchRows = static_cast<std::int64_t>(batch.rows.rows.size());
  chooseRange(batch, shard);
  BatchEcho echo(results, run);
  RowOutputs out{&echo, 0};
  if (run.progress.enabled()) {
    out.rowsShown = static_cast<std::int64_t>(batch.rows.end - batch.rows.first);
  }
  // A shard that selects no data row still writes its header-only file, so that every shard
  // merges; standard error says why it is empty.
  if (run.config.rows && batchRows < shard.first) {
    std::fprintf(stderr, "%s\n", emptyShardMessage(shard, batchRows, kBatchFileName).c_str());
  }
  Status status = valueBatch(batch, out, run, std::move(valuer));
  if (Status closed = results.close(); !closed.ok() && status.ok()) status = closed;
  if (status.ok()) status = printLine("");
  if (status.ok()) {
    writeElapsedLine(run.clock, "Total elapse time: ", run.startTime);
    status = standardOutputWritten();
  }
  return status;
}

}  // namespace empricer
