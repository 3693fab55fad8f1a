#include <cstdio>
#include <string>

#include "app/elapsed_time.h"
#include "app/file_names.h"
#include "app/request_from_settings.h"
#include "app/runs.h"
#include "engine/value_option.h"
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
                RandomGenerator& generator) {
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

  const ValuationFiles files{kDistributionFileName, kTemporaryFileName};
  Status status;
  LineBuffer line{};
  readLine(batch, line);  // the header, whatever it holds
  while (!batch.endOfFile) {
    readLine(batch, line);
    if (isEmptyLine(line)) continue;
    const LineBuffer& row = line;
    const double spot = fieldByComma(row, 1);
    const double strike = fieldByComma(row, 2);
    const auto days = truncateToInt32(fieldByComma(row, 3));
    if (!days) {
      writeLine(stdout, "Skipped row: days out of range");
      continue;
    }
    const std::int64_t rowStartTime = clock.now();
    ValuationRequest request = requestFromSettings(settings);
    request.spot = spot;
    request.strike = strike;
    request.days = *days;
    ValuationResult result{};
    status = valueOption(request, result, generator, files);
    if (!status.ok()) break;

    writeConsoleRows(request, result);
    writeElapsedLine(clock, "Elapse time: ", rowStartTime);
    writeLine(stdout, "----------------------------------------");
    writeResultRows(results, request, result);
  }
  if (status.ok()) {
    writeLine(stdout, "");
    writeElapsedLine(clock, "Total elapse time: ", startTime);
  }
  closeStream(batch);
  std::fclose(results);
  return status;
}
