// The command line. With no arguments the program runs exactly as it always has; every option
// changes only what it says.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/clock.h"
#include "app/console_input.h"
#include "app/runs.h"
#include "engine/outcome.h"

// Exit status of a command line that cannot be used.
constexpr int kUsageStatus = 2;

// The CPUs this process may run on: its affinity mask, so that taskset and container limits
// count; at least 1.
int availableCpuCount();

// The options of `args` (the arguments after the program's name), or what is wrong with them.
Outcome<ProgramOptions> parseOptions(const std::vector<std::string>& args);

// Parses `args` and runs the program; a usage error goes to standard error as one line and
// gives kUsageStatus, before any file is touched. `simulation`, when given, replaces the
// choice of kernel (tests compare every kernel with the one-at-a-time reference).
int runWithArguments(const std::vector<std::string>& args, Clock& clock, ConsoleInput& console,
                     const std::optional<SimulationChoice>& simulation = std::nullopt);
