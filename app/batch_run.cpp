#include <cstdio>
#include <string>

#include "app/elapsed_time.h"
#include "app/request_from_settings.h"
#include "app/runs.h"
#include "engine/value_option.h"
#include "input/fields.h"
#include "input/input_stream.h"
#include "input/int_conversion.h"
#include "input/line_reader.h"
#include "input/number_text.h"
#include "input/output_file.h"
#include "input/stop.h"

namespace {

constexpr const char* kBatchFileName = "batch.csv";
constexpr const char* kResultFileName = "Batch_Result.csv";

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

void runBatch(const RunSettings& settings, std::int64_t startTime, Clock& clock) {
  // The input is checked before the result file is touched, so that a missing input does not
  // wipe the results of an earlier run.
  InputStream batch;
  openForReading(batch, kBatchFileName);
  requireOpen(batch, kBatchFileName);
  std::FILE* results = openForWriting(kResultFileName);
  requireOpen(results, kResultFileName);

  writeLine(results, settings.withProbabilities
                         ? "S0,K,Call,Put,Stdev,Prob(WLC),Prob(WLP),ThetaC,ThetaP"
                         : "S0,K,Call,Put,Stdev,ThetaC,ThetaP");
  writeLine(stdout, "OUTPUTS: ");

  LineBuffer line{};
  readLine(batch, line);  // the header, whatever it holds
  forEachLine(batch, line, [&](const LineBuffer& row) {
    const double spot = fieldByComma(row, 1);
    const double strike = fieldByComma(row, 2);
    const auto days = truncateToInt32(fieldByComma(row, 3));
    if (!days) {
      writeLine(stdout, "Skipped row: days out of range");
      return;
    }
    const std::int64_t rowStartTime = clock.now();
    ValuationRequest request = requestFromSettings(settings);
    request.spot = spot;
    request.strike = strike;
    request.days = *days;
    ValuationResult result{};
    valueOption(request, result);

    writeConsoleRows(request, result);
    writeElapsedLine(clock, "Elapse time: ", rowStartTime);
    writeLine(stdout, "----------------------------------------");
    writeResultRows(results, request, result);
  });

  writeLine(stdout, "");
  writeElapsedLine(clock, "Total elapse time: ", startTime);
  closeStream(batch);
  std::fclose(results);
}
