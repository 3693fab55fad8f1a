// What tests and fuzz targets may set beyond the command line: a clock that moves in fixed
// steps, the simulation kernel, and the delay before the progress line. The program itself
// always runs with the defaults.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/clock.h"
#include "app/console_input.h"
#include "engine/valuation_queue.h"

namespace empricer {

// Reading k gives start + k * step.
struct SteppingClock final : Clock {
  SteppingClock(std::int64_t startSeconds, std::int64_t stepSeconds)
      : start(startSeconds), step(stepSeconds) {}
  std::int64_t now() override { return start + step * readings++; }
  std::int64_t start;
  std::int64_t step;
  std::int64_t readings = 0;
};

struct TestControls {
  SimulationChoice simulation;  // the kernel: the widest this processor has
  double progressAfter = 1.0;   // seconds of work before the progress line may appear
};

// The kernel of a name: reference (the one-at-a-time loop), scalar, avx2 or avx512; nothing
// for another name. A path the processor lacks runs as scalar.
std::optional<SimulationChoice> forcedSimulation(const std::string& name);

// runWithArguments with `test` in place of the defaults.
int runWithTestControls(const std::vector<std::string>& args, Clock& clock,
                        ConsoleInput& console, const TestControls& test);

}  // namespace empricer
