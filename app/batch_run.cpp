#include <algorithm>
#include <cstdio>
#include <deque>
#include <string>

#include "app/elapsed_time.h"
#include "app/file_names.h"
#include "app/request_from_settings.h"
#include "app/runs.h"
#include "engine/random_jump.h"
#include "engine/valuation_queue.h"
#include "text/fields.h"
#include "text/input_stream.h"
#include "text/int_conversion.h"
#include "text/line_reader.h"
#include "text/number_text.h"
#include "text/output_file.h"

namespace {

// Rows read ahead at most: the queue holds back on valued rows, this on skipped ones.
constexpr std::size_t kRowsAhead = 256;

void writeConsoleRows(const ValuationRequest& request, const ValuationResult& result,
                      const StandardErrors* errors) {
  for (int p = 0; p < kPathCount; ++p) {
    const bool base = p == kBasePath;
    std::string line = "S0=";
    appendNumber(line, startPriceOfPath(request, p));
    line += ", K=";
    appendNumber(line, request.strike);
    line += ", Call=";
    appendNumber(line, callValueOfPath(result, p));
    line += ", Put=";
    appendNumber(line, putValueOfPath(result, p));
    line += ", Theta=";
    appendNumber(line, result.thetaCall[p]);
    line += "/";
    appendNumber(line, result.thetaPut[p]);
    if (base) {
      line += ", and Stdev(S)=";
      appendNumber(line, result.stdevS);
    }
    if (errors != nullptr) {
      line += ", SE=";
      appendNumber(line, errors->call[p]);
      line += "/";
      appendNumber(line, errors->put[p]);
    }
    writeLine(stdout, line);
  }
}

void writeResultRows(std::FILE* out, const ValuationRequest& request,
                     const ValuationResult& result, const StandardErrors* errors) {
  for (int p = 0; p < kPathCount; ++p) {
    std::string line;
    appendNumber(line, startPriceOfPath(request, p));
    line += ',';
    appendNumber(line, request.strike);
    line += ',';
    appendNumber(line, callValueOfPath(result, p));
    line += ',';
    appendNumber(line, putValueOfPath(result, p));
    line += ',';
    appendNumber(line, result.stdevS);
    if (request.withProbabilities) {
      line += ',';
      appendNumber(line, result.probCall[p]);
      line += ',';
      appendNumber(line, result.probPut[p]);
    }
    line += ',';
    appendNumber(line, result.thetaCall[p]);
    line += ',';
    appendNumber(line, result.thetaPut[p]);
    if (errors != nullptr) {
      line += ',';
      appendNumber(line, errors->call[p]);
      line += ',';
      appendNumber(line, errors->put[p]);
    }
    writeLine(out, line);
  }
}

// The data rows of the batch file as the batch run takes them: non-empty reads after the
// header. Only for the progress line; 0 when the file cannot be read.
std::int64_t countBatchRows() {
  InputStream batch;
  openForReading(batch, kBatchFileName);
  if (!isOpen(batch)) return 0;
  LineBuffer line{};
  readLine(batch, line);
  std::int64_t rows = 0;
  forEachLine(batch, line, [&](const LineBuffer&) { ++rows; });
  return rows;
}

}  // namespace

Status runBatch(const RunSettings& settings, RunContext& run) {
  // The input is checked before the result file is touched, so that a missing input does not
  // wipe the results of an earlier run.
  InputStream batch;
  openForReading(batch, kBatchFileName);
  if (!isOpen(batch)) return openFailure(kBatchFileName);
  std::FILE* results = openForWriting(kResultFileName);
  if (results == nullptr) return openFailure(kResultFileName);

  const bool withErrors = run.options.standardErrors;
  std::string header = settings.withProbabilities
                           ? "S0,K,Call,Put,Stdev,Prob(WLC),Prob(WLP),ThetaC,ThetaP"
                           : "S0,K,Call,Put,Stdev,ThetaC,ThetaP";
  if (withErrors) header += ",SECall,SEPut";
  writeLine(results, header);
  writeLine(stdout, "OUTPUTS: ");

  // The rows this run values: all of them, or a shard. Rows before the shard are read, and
  // their draws skipped by jumping the generator ahead, without valuing them.
  const RowRange shard = run.options.rows.value_or(RowRange{});
  const std::int64_t rowsShown =
      run.progress.enabled()
          ? std::max<std::int64_t>(0, std::min(countBatchRows(), shard.last) - (shard.first - 1))
          : 0;

  // Rows are read ahead of the one being completed and handed to the queue, whose workers
  // simulate them meanwhile; everything a row shows happens at its turn, in row order.
  struct Row {
    bool valued;
    ValuationRequest request;
  };
  std::deque<Row> ahead;
  std::int64_t rowNumber = 0;  // data rows read so far
  LineBuffer line{};
  readLine(batch, line);  // the header, whatever it holds
  auto readRow = [&] {
    while (!batch.endOfFile && rowNumber < shard.last) {
      readLine(batch, line);
      if (isEmptyLine(line)) continue;
      ++rowNumber;
      Row row{false, requestFromSettings(settings)};
      row.request.spot = fieldByComma(line, 1);
      row.request.strike = fieldByComma(line, 2);
      const auto days = truncateToInt32(fieldByComma(line, 3));
      if (days) {
        row.valued = true;
        row.request.days = *days;
      }
      const std::uint64_t draws = row.valued ? drawsOfValuation(row.request) : 0;
      if (rowNumber < shard.first) {
        run.generator.state = applyJump(randomJump(draws), run.generator.state);
        continue;
      }
      if (row.valued) run.queue.enqueue(row.request, run.generator.state);
      run.generator.state = applyJump(randomJump(draws), run.generator.state);
      ahead.push_back(row);
      return true;
    }
    return false;
  };

  const ValuationFiles files{kDistributionFileName, kTemporaryFileName};
  StandardErrors errors{};
  CompletionHooks hooks;
  if (withErrors) hooks.standardErrors = &errors;
  hooks.progress = [&run](double share) { run.progress.update(share); };
  std::int64_t rowsDone = 0;
  Status status;
  for (;;) {
    while (ahead.size() < kRowsAhead && run.queue.wantsMore() && readRow()) {
    }
    if (ahead.empty() && !readRow()) break;
    const Row row = ahead.front();
    ahead.pop_front();
    run.progress.startRow(++rowsDone, rowsShown);
    if (!row.valued) {
      writeLine(stdout, "Skipped row: days out of range");
      continue;
    }
    const std::int64_t rowStartTime = run.clock.now();
    ValuationResult result{};
    status = run.queue.completeNext(result, files, hooks);
    run.progress.clear();
    if (!status.ok()) break;
    writeConsoleRows(row.request, result, hooks.standardErrors);
    writeElapsedLine(run.clock, "Elapse time: ", rowStartTime);
    writeLine(stdout, "----------------------------------------");
    writeResultRows(results, row.request, result, hooks.standardErrors);
  }
  if (status.ok()) {
    writeLine(stdout, "");
    writeElapsedLine(run.clock, "Total elapse time: ", run.startTime);
  }
  closeStream(batch);
  std::fclose(results);
  return status;
}
