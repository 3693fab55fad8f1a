#include "runs/batch_rows.h"

#include <initializer_list>
#include <string_view>
#include <utility>

#include "runs/elapsed_time.h"
#include "runs/file_names.h"
#include "runs/request_from_settings.h"
#include "runs/stop.h"
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

namespace {

// Appends each figure after its label ("S0=", or the separator ",").
void appendLabelled(std::string& line,
                    std::initializer_list<std::pair<std::string_view, double>> figures) {
  for (const auto& [label, value] : figures) {
    line += label;
    appendNumber(line, value);
  }
}

}  // namespace

Status writeConsoleRows(const ValuationRequest& request, const ValuationResult& result,
                        const StandardErrors* errors, Clock& clock, std::int64_t rowStartTime) {
  for (int p = 0; p < kPathCount; ++p) {
    std::string line;
    appendLabelled(line, {{"S0=", startPriceOfPath(request, p)},
                          {", K=", request.strike},
                          {", Call=", callValueOfPath(result, p)},
                          {", Put=", putValueOfPath(result, p)},
                          {", Theta=", result.thetaCall[p]},
                          {"/", result.thetaPut[p]}});
    if (p == kBasePath) appendLabelled(line, {{", and Stdev(S)=", result.stdevS}});
    if (errors != nullptr) {
      appendLabelled(line, {{", SE=", errors->call[p]}, {"/", errors->put[p]}});
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
    appendLabelled(lines, {{"", startPriceOfPath(request, p)},
                           {",", request.strike},
                           {",", callValueOfPath(result, p)},
                           {",", putValueOfPath(result, p)},
                           {",", result.stdevS}});
    if (request.withProbabilities) {
      appendLabelled(lines, {{",", result.probCall[p]}, {",", result.probPut[p]}});
    }
    appendLabelled(lines, {{",", result.thetaCall[p]}, {",", result.thetaPut[p]}});
    if (errors != nullptr) appendLabelled(lines, {{",", errors->call[p]}, {",", errors->put[p]}});
    lines += '\n';
  }
  return lines;
}

Status writeResultRows(RowFile& out, const ValuationRequest& request,
                       const ValuationResult& result, const StandardErrors* errors) {
  return out.writeRow(resultRows(request, result, errors));
}

}  // namespace empricer
