#include "app/batch_rows.h"

#include "app/elapsed_time.h"
#include "app/file_names.h"
#include "app/request_from_settings.h"
#include "app/stop.h"
#include "text/fields.h"
#include "text/int_conversion.h"
#include "text/number_text.h"
#include "text/output_file.h"

namespace empricer {

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

Status writeConsoleRows(const ValuationRequest& request, const ValuationResult& result,
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
    if (Status shown = printLine(line); !shown.ok()) return shown;
  }
  writeElapsedLine(clock, "Elapse time: ", rowStartTime);
  if (Status shown = standardOutputWritten(); !shown.ok()) return shown;
  return printLine("----------------------------------------");
}

std::string resultRows(const ValuationRequest& request, const ValuationResult& result,
                       const StandardErrors* errors) {
  std::string lines;
  for (int p = 0; p < kPathCount; ++p) {
    appendNumber(lines, startPriceOfPath(request, p));
    lines += ',';
    appendNumber(lines, request.strike);
    lines += ',';
    appendNumber(lines, callValueOfPath(result, p));
    lines += ',';
    appendNumber(lines, putValueOfPath(result, p));
    lines += ',';
    appendNumber(lines, result.stdevS);
    if (request.withProbabilities) {
      lines += ',';
      appendNumber(lines, result.probCall[p]);
      lines += ',';
      appendNumber(lines, result.probPut[p]);
    }
    lines += ',';
    appendNumber(lines, result.thetaCall[p]);
    lines += ',';
    appendNumber(lines, result.thetaPut[p]);
    if (errors != nullptr) {
      lines += ',';
      appendNumber(lines, errors->call[p]);
      lines += ',';
      appendNumber(lines, errors->put[p]);
    }
    lines += '\n';
  }
  return lines;
}

Status writeResultRows(RowFile& out, const ValuationRequest& request,
                       const ValuationResult& result, const StandardErrors* errors) {
  return out.writeRow(resultRows(request, result, errors));
}

}  // namespace empricer
