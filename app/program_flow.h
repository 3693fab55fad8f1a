// The program's flow around a run: the folder's lock, the seed, the settings, the banner, the
// run mode, the run with its outputs, the closing line and the optional pause.
#pragma once

#include "runs/clock.h"
#include "runs/console_input.h"
#include "runs/run_options.h"
#include "runs/run_tuning.h"

namespace empricer {

// How a run ended: done, or a failure told on standard error (what stops a run before it
// starts, a calibration's refusal, a command line that does not read) or as the run's stop
// step (its message on standard output, then the pause).
struct RunEnd {
  Status status{};
  bool onStandardError = false;
};

// The whole program: seed, settings, banner, run mode, run, closing line, optional pause.
// `tuning` sets the simulation's kernel and the progress line's delay (the defaults: the
// widest kernel, 1 s).
RunEnd runProgram(Clock& clock, ConsoleInput& console, const ProgramOptions& options,
                  const RunTuning& tuning = {});

// The one place a run's end becomes the exit status, its failure told where it belongs:
// 0 after a normal end, kUsageStatus for a refusal (failure kind refused), kFailureStatus
// for any other failure.
int exitStatusOf(const RunEnd& end);

}  // namespace empricer
