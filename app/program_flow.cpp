#include <string>

#include "app/runs.h"
#include "input/int_conversion.h"
#include "input/number_text.h"
#include "input/output_file.h"
#include "input/random_generator.h"
#include "input/stop.h"

int runProgram(Clock& clock, ConsoleInput& console) {
  // The generator takes the low 32 bits of the time in seconds.
  seedRandom(static_cast<std::uint32_t>(clock.now()));
  RunSettings settings;
  loadSettings(settings);
  const std::int64_t startTime = clock.now();

  writeLine(stdout, "PARAMETERS:");
  std::string line = "Risk Free Rate:       ";
  appendNumber(line, settings.riskFreeRate);
  writeLine(stdout, line);
  line = "Num of Trajectories:  ";
  appendInteger(line, settings.trajectories);
  writeLine(stdout, line);
  writeLine(stdout, "");

  if (truncateToInt32(settings.runMode) == 0) {
    writeText(stdout, "Manual[1] or Batch[2] run? ");
    readDouble(console, settings.runMode);
    writeLine(stdout, "");
  }
  // A run mode outside the 32-bit range selects nothing, like any value but 1 and 2.
  const auto mode = truncateToInt32(settings.runMode);
  if (mode == 1) {
    runManual(settings, startTime, clock, console);
  } else if (mode == 2) {
    runBatch(settings, startTime, clock);
  }

  writeLine(stdout, "");
  if (settings.pauseAtEnd) pauseForKey();
  return 0;
}
