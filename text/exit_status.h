// The exit statuses of both programs (empricer and empricer-dist), named once.
#pragma once

namespace empricer {

// A normal end: a run or a build that went through, --check with nothing found, --help,
// --version.
constexpr int kDoneStatus = 0;
// Not done: a run that stopped (its stop message, standard output that failed, another run
// holding the folder), an output that empricer-dist could not write, or --check that found
// something.
constexpr int kFailureStatus = 1;
// A command line that cannot be used, or a run it does not fit; for empricer-dist also input
// that cannot be used.
constexpr int kUsageStatus = 2;

}  // namespace empricer
