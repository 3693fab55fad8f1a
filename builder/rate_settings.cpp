#include "builder/rate_settings.h"

#include <cmath>
#include <cstdint>

#include "builder/csv_fields.h"
#include "engine/valuation/setup_keys.h"
#include "text/input_stream.h"

namespace empricer {

Outcome<RateSettings> loadRateSettings(const std::string& path) {
  InputStream stream;
  openForReading(stream, path.c_str());
  if (!isOpen(stream)) return cannotOpen(path);
  const SetupReading reading = readSetupLines(stream);
  closeStream(stream);
  for (const std::int32_t key : {kRateKey, kStepScaleKey}) {
    if (!reading.given[key]) {
      return Failure{path + ": " + noLineForKey(key) + " (" + kSetupKeys[key].meaning +
                     "), which --mean risk-neutral needs"};
    }
  }
  RateSettings settings;
  settings.rate = reading.rate;
  settings.stepScale = reading.stepScale;
  settings.stepFraction = stepFractionOf(reading.stepScale);
  return settings;
}

double riskNeutralMean(const RateSettings& settings, double carry, int stepsPerDay) {
  return std::expm1((settings.rate - carry) * settings.stepFraction / stepsPerDay);
}

}  // namespace empricer
