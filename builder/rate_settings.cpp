#include "builder/rate_settings.h"

#include <cmath>
#include <optional>

#include "builder/csv_fields.h"
#include "engine/constants.h"
#include "text/fields.h"
#include "text/input_stream.h"
#include "text/int_conversion.h"
#include "text/line_reader.h"

namespace empricer {

Outcome<RateSettings> loadRateSettings(const std::string& path) {
  InputStream stream;
  openForReading(stream, path.c_str());
  if (!isOpen(stream)) return cannotOpen(path);
  std::optional<double> rate;
  std::optional<double> stepScale;
  LineBuffer line{};
  forEachLine(stream, line, [&](const LineBuffer& text) {
    const auto key = truncateToInt32(fieldBySpace(text, 1));
    if (key == 3) rate = fieldBySpace(text, 3);
    if (key == 4) stepScale = fieldBySpace(text, 3);
  });
  closeStream(stream);
  const auto lacking = [&](const char* what) {
    return Failure{path + ": no line for key " + what + ", which --mean risk-neutral needs"};
  };
  if (!rate) return lacking("3 (the risk-free rate)");
  if (!stepScale) return lacking("4 (the step scale)");
  RateSettings settings;
  settings.rate = *rate;
  settings.stepScale = *stepScale;
  settings.stepFraction = 1.0 / kStepsPerDay / *stepScale;
  return settings;
}

double riskNeutralMean(const RateSettings& settings, double carry) {
  return std::expm1((settings.rate - carry) * settings.stepFraction / kStepsPerDay);
}

}  // namespace empricer
