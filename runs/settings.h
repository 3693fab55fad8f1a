// The run's settings, loaded from "Setup.txt" by the rules of its keys (engine/setup_keys.h):
// keys 1 to 5 take the last line that gives them; keys 6 and 7 are switches that a value of
// exactly 1 turns on and nothing turns off.
#pragma once

#include <cstdint>

#include "engine/valuation/setup_keys.h"
#include "text/status.h"

namespace empricer {

// The run modes that value something; 0 has the mode asked for, any other value runs nothing.
constexpr std::int32_t kManualRunMode = 1;
constexpr std::int32_t kBatchRunMode = 2;

struct RunSettings {
  double runMode = 0.0;           // key 1, truncated when the run is chosen
  std::int32_t trajectories = 0;  // key 2
  double riskFreeRate = 0.0;      // key 3
  double stepFraction = 0.0;      // key 4: stepFractionOf(value)
  double shiftFactor[4] = {0.0, 0.0, 0.0, 0.0};  // key 5
  bool pauseAtEnd = false;        // key 6
  bool withProbabilities = false; // key 7
  // Not a key: the steps of a day, from --steps-per-day (1 to kMostStepsPerDay).
  std::int32_t stepsPerDay = kDefaultStepsPerDay;
};

// Reads the settings file at `path`. Fails, with the message the program stops with, when it
// cannot be opened, when no line gives one of keys 2 to 5, or when the number of trajectories
// is outside the 32-bit range. A missing key 1 leaves run mode 0, so that the run mode is
// asked for.
Outcome<RunSettings> loadSettings(const char* path);

}  // namespace empricer
