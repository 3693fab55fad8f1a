#include "app/settings.h"

#include <string>

#include "text/fields.h"
#include "text/input_stream.h"
#include "text/int_conversion.h"
#include "text/line_reader.h"

namespace empricer {

Failure trajectoriesOutOfRange(const char* path) {
  return contentFailure(path, "key 2 is out of range");
}

Outcome<RunSettings> loadSettings(const char* path) {
  RunSettings settings;
  InputStream stream;
  openForReading(stream, path);
  if (!isOpen(stream)) return openFailure(path);

  bool given[kLastKey + 1] = {};
  double trajectoriesValue = 0.0;
  LineBuffer line{};
  forEachLine(stream, line, [&](const LineBuffer& text) {
    const auto key = truncateToInt32(fieldBySpace(text, 1));
    if (!key || *key < 1 || *key > kLastKey) return;
    const double value = fieldBySpace(text, 3);
    switch (*key) {
      case 1: settings.runMode = value; break;
      case 2: trajectoriesValue = value; break;
      case 3: settings.riskFreeRate = value; break;
      case 4: settings.stepFraction = kOneOverStepsPerDay / value; break;
      case 5:
        settings.shiftFactor[0] = value;
        settings.shiftFactor[1] = fieldBySpace(text, 4);
        settings.shiftFactor[2] = fieldBySpace(text, 5);
        settings.shiftFactor[3] = fieldBySpace(text, 6);
        break;
      case 6: if (value == 1.0) settings.pauseAtEnd = true; break;
      case 7: if (value == 1.0) settings.withProbabilities = true; break;
    }
    given[*key] = true;
  });
  closeStream(stream);

  for (int key = kFirstRequiredKey; key <= kLastRequiredKey; ++key) {
    if (!given[key]) return contentFailure(path, "no line for key " + std::to_string(key));
  }
  const auto trajectories = truncateToInt32(trajectoriesValue);
  if (!trajectories) return trajectoriesOutOfRange(path);
  settings.trajectories = *trajectories;
  return settings;
}

}  // namespace empricer
