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

void writeConsoleRows(const ValuationRequest& request, const ValuationResult& result) {
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
    writeLine(stdout, line);
  }
}

void writeResultRows(std::FILE* out, const ValuationRequest& request,
                     const ValuationResult& result) {
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
    writeLine(out, line);
  }
}

}  // namespace

Status runBatch(const RunSettings& settings, std::int64_t startTime, Clock& clock,
                RandomGenerator& generator, ValuationQueue& queue) {
  // The input is checked before the result file is touched, so that a missing input does not
  // wipe the results of an earlier run.
  InputStream batch;
  openForReading(batch, kBatchFileName);
  if (!isOpen(batch)) return openFailure(kBatchFileName);
  std::FILE* results = openForWriting(kResultFileName);
  if (results == nullptr) return openFailure(kResultFileName);

  writeLine(results, settings.withProbabilities
                         ? "S0,K,Call,Put,Stdev,Prob(WLC),Prob(WLP),ThetaC,ThetaP"
                         : "S0,K,Call,Put,Stdev,ThetaC,ThetaP");
  writeLine(stdout, "OUTPUTS: ");

  // Rows are read ahead of the one being completed and handed to the queue, whose workers
  // simulate them meanwhile; everything a row shows happens at its turn, in row order.
  struct Row {
    bool valued;
    ValuationRequest request;
  };
  std::deque<Row> ahead;
  LineBuffer line{};
  readLine(batch, line);  // the header, whatever it holds
  auto readRow = [&] {
    while (!batch.endOfFile) {
      readLine(batch, line);
      if (isEmptyLine(line)) continue;
      Row row{false, requestFromSettings(settings)};
      row.request.spot = fieldByComma(line, 1);
      row.request.strike = fieldByComma(line, 2);
      const auto days = truncateToInt32(fieldByComma(line, 3));
      if (days) {
        row.valued = true;
        row.request.days = *days;
        queue.enqueue(row.request, generator.state);
        generator.state =
            applyJump(randomJump(drawsOfValuation(row.request)), generator.state);
      }
      ahead.push_back(row);
      return true;
    }
    return false;
  };

  const ValuationFiles files{kDistributionFileName, kTemporaryFileName};
  Status status;
  for (;;) {
    while (queue.wantsMore() && readRow()) {
    }
    if (ahead.empty() && !readRow()) break;
    const Row row = ahead.front();
    ahead.pop_front();
    if (!row.valued) {
      writeLine(stdout, "Skipped row: days out of range");
      continue;
    }
    const std::int64_t rowStartTime = clock.now();
    ValuationResult result{};
    status = queue.completeNext(result, files);
    if (!status.ok()) break;
    writeConsoleRows(row.request, result);
    writeElapsedLine(clock, "Elapse time: ", rowStartTime);
    writeLine(stdout, "----------------------------------------");
    writeResultRows(results, row.request, result);
  }
  if (status.ok()) {
    writeLine(stdout, "");
    writeElapsedLine(clock, "Total elapse time: ", startTime);
  }
  closeStream(batch);
  std::fclose(results);
  return status;
}
