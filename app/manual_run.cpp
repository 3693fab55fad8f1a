#include <string>

#include "app/elapsed_time.h"
#include "app/file_names.h"
#include "app/request_from_settings.h"
#include "app/runs.h"
#include "engine/value_option.h"
#include "text/number_text.h"
#include "text/output_file.h"

namespace {

void writeReport(const ValuationRequest& request, const ValuationResult& result) {
  const bool probabilities = request.withProbabilities;
  std::string line;
  auto emit = [&] {
    writeLine(stdout, line);
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
  }
}

}  // namespace

Status runManual(const RunSettings& settings, std::int64_t startTime, Clock& clock,
                 ConsoleInput& console, RandomGenerator& generator, ValuationQueue& queue) {
  writeLine(stdout, "INPUTS:");
  // Defined values for answers that cannot be read.
  double spot = 0.0;
  double strike = 0.0;
  std::int32_t days = 0;
  writeText(stdout, "Underlying Price: ");
  readDouble(console, spot);
  writeText(stdout, "Strike Price: ");
  readDouble(console, strike);
  writeText(stdout, "Time to Maturity (days): ");
  readInteger(console, days);

  ValuationRequest request = requestFromSettings(settings);
  request.spot = spot;
  request.strike = strike;
  request.days = days;
  ValuationResult result{};
  const ValuationFiles files{kDistributionFileName, kTemporaryFileName};
  if (Status valued = valueOption(request, result, generator, files, queue); !valued.ok()) return valued;

  writeReport(request, result);
  writeElapsedLine(clock, "Elapse time: ", startTime);
  return {};
}
