#include "engine/valuation/setup_keys.h"

#include "text/fields.h"
#include "text/int_conversion.h"

namespace empricer {

std::optional<std::int32_t> setupKeyOf(double keyField) {
  const auto key = truncateToInt32(keyField);
  if (!key || *key < 1 || *key > kLastKey) return std::nullopt;
  return key;
}

std::optional<std::int32_t> trajectoriesOf(double value) { return truncateToInt32(value); }

double stepFractionOf(double stepScale) { return kOneOverStepsPerDay / stepScale; }

bool switchesOn(double value) { return value == 1.0; }

std::optional<std::int32_t> readSetupLine(const LineBuffer& line, SetupReading& reading) {
  const auto key = setupKeyOf(fieldBySpace(line, 1));
  if (!key) return std::nullopt;
  const double value = fieldBySpace(line, kFirstValueField);
  switch (*key) {
    case kRunModeKey: reading.runMode = value; break;
    case kTrajectoriesKey: reading.trajectories = value; break;
    case kRateKey: reading.rate = value; break;
    case kStepScaleKey: reading.stepScale = value; break;
    case kShiftKey:
      for (int k = 0; k < 4; ++k) {
        reading.shiftFactor[k] = fieldBySpace(line, kFirstValueField + k);
      }
      break;
    case kPauseKey: reading.pauseAtEnd = reading.pauseAtEnd || switchesOn(value); break;
    case kProbabilitiesKey:
      reading.withProbabilities = reading.withProbabilities || switchesOn(value);
      break;
  }
  reading.given[*key] = true;
  return key;
}

SetupReading readSetupLines(InputStream& stream) {
  SetupReading reading;
  LineBuffer line{};
  forEachLine(stream, line, [&](const LineBuffer& text) { readSetupLine(text, reading); });
  return reading;
}

std::string noLineForKey(std::int32_t key) { return "no line for key " + std::to_string(key); }

Failure missingKey(std::string_view path, std::int32_t key) {
  return contentFailure(path, noLineForKey(key));
}

Failure trajectoriesOutOfRange(std::string_view path) {
  return contentFailure(path, "key 2 is out of range");
}

}  // namespace empricer
