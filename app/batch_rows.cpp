#include "app/batch_rows.h"

#include "app/elapsed_time.h"
#include "app/file_names.h"
#include "app/request_from_settings.h"
#include "text/fields.h"
#include "text/input_stream.h"
#include "text/int_conversion.h"
#include "text/number_text.h"
#include "text/output_file.h"

BatchRow readBatchRow(const LineBuffer& line, const RunSettings& settings) {
  BatchRow row{false, requestFromSettings(settings)};
  row.request.spot = fieldByComma(line, 1);
  row.request.strike = fieldByComma(line, 2);
  const auto days = truncateToInt32(fieldByComma(line, 3));
  if (days) {
    row.valued = true;
    row.request.days = *days;
  }
  return row;
}

std::string resultHeader(bool withProbabilities, bool withErrors) {
  std::string header = withProbabilities
                           ? "S0,K,Call,Put,Stdev,Prob(WLC),Prob(WLP),ThetaC,ThetaP"
                           : "S0,K,Call,Put,Stdev,ThetaC,ThetaP";
  if (withErrors) header += ",SECall,SEPut";
  return header;
}

void writeConsoleRows(const ValuationRequest& request, const ValuationResult& result,
                      const StandardErrors* errors, Clock& clock, std::int64_t rowStartTime) {
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
  writeElapsedLine(clock, "Elapse time: ", rowStartTime);
  writeLine(stdout, "----------------------------------------");
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

