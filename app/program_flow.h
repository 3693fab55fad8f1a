// The program's flow around a run: the folder's lock, the seed, the settings, the banner, the
// run mode, the run with its outputs, the closing line and the optional pause.
#pragma once

#include "runs/clock.h"
#include "runs/console_input.h"
#include "runs/run_options.h"
#include "runs/run_tuning.h"

namespace empricer {

// The whole program: seed, settings, banner, run mode, run, closing line, optional pause.
// Returns the exit status: 0 after a normal end, kFailureStatus after the stop step,
// kUsageStatus when --rows is given for a run that is not a batch run. `tuning` sets the
// simulation's kernel and the progress line's delay (the defaults: the widest kernel, 1 s).
int runProgram(Clock& clock, ConsoleInput& console, const ProgramOptions& options,
               const RunTuning& tuning = {});

}  // namespace empricer
