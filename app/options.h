// The command line. With no arguments the program runs exactly as it always has; every option
// changes only what it says. GNU conventions: --name VALUE and --name=VALUE, a lone -- ends
// the options, and a usage error is a message and exit status 2, before any file is touched.
#pragma once

#include <string>
#include <vector>

#include "runs/clock.h"
#include "runs/console_input.h"
#include "runs/run_options.h"
#include "runs/run_tuning.h"

namespace empricer {

// The text --help prints.
std::string usageText();

// Parses `args` and runs the program. A usage error goes to standard error, followed by
// "Try 'empricer --help'.", and gives kUsageStatus before any file is touched.
int runWithArguments(const std::vector<std::string>& args, Clock& clock, ConsoleInput& console,
                     const RunTuning& tuning = {});

}  // namespace empricer
