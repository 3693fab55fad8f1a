#include "runs/settings.h"

#include "text/input_stream.h"

namespace empricer {

Outcome<RunSettings> loadSettings(const char* path) {
  InputStream stream;
  openForReading(stream, path);
  if (!isOpen(stream)) return openFailure(path);
  const SetupReading reading = readSetupLines(stream);
  closeStream(stream);

  for (std::int32_t key = kFirstRequiredKey; key <= kLastRequiredKey; ++key) {
    if (!reading.given[key]) return missingKey(path, key);
  }
  const auto trajectories = trajectoriesOf(reading.trajectories);
  if (!trajectories) return trajectoriesOutOfRange(path);

  RunSettings settings;
  settings.runMode = reading.runMode;
  settings.trajectories = *trajectories;
  settings.riskFreeRate = reading.rate;
  settings.stepFraction = stepFractionOf(reading.stepScale);
  for (int k = 0; k < 4; ++k) settings.shiftFactor[k] = reading.shiftFactor[k];
  settings.pauseAtEnd = reading.pauseAtEnd;
  settings.withProbabilities = reading.withProbabilities;
  return settings;
}

}  // namespace empricer
