// The program with a clock that starts at argv[1] seconds and moves argv[2] seconds per
// reading, so that whole runs can be replayed exactly. The arguments after those two are the
// program's own, except two that tests may give first: --kernel=NAME (reference, scalar, avx2
// or avx512) chooses how the trajectories are simulated, one after another or on a lockstep
// path; --progress-now lets the progress line appear from the start of the work.
#include <cstdlib>
#include <string>
#include <vector>

#include "app/clock.h"
#include "app/console_input.h"
#include "app/options.h"
#include "app/testing.h"

using namespace empricer;

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  SteppingClock clock(std::strtoll(argv[1], nullptr, 10), std::strtoll(argv[2], nullptr, 10));
  std::vector<std::string> args(argv + 3, argv + argc);
  TestControls test;
  if (!args.empty() && args[0] == "--progress-now") {
    args.erase(args.begin());
    test.progressAfter = 0.0;
  }
  if (!args.empty() && args[0].rfind("--kernel=", 0) == 0) {
    const std::optional<SimulationChoice> forced = forcedSimulation(args[0].substr(9));
    if (!forced) return 2;
    test.simulation = *forced;
    args.erase(args.begin());
  }
  ConsoleInput console;
  return runWithTestControls(args, clock, console, test);
}
