// The program with a clock that starts at argv[1] seconds and moves argv[2] seconds per
// reading, so that whole runs can be replayed exactly. The arguments after those two are the
// program's own, except two that tests may give first: --kernel=NAME (reference, scalar, avx2
// or avx512) chooses how the trajectories are simulated, one after another or on a lockstep
// path; --progress-now lets the progress line appear from the start of the work.
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "runs/clock.h"
#include "runs/console_input.h"
#include "app/options.h"
#include "runs/run_tuning.h"
#include "stepping_clock.h"

using namespace empricer;

namespace {

// The kernel of a name: reference (the one-at-a-time loop), scalar, avx2 or avx512; nothing
// for another name. A path the processor lacks runs as scalar.
std::optional<SimulationChoice> kernelNamed(const std::string& name) {
  if (name == "reference") return SimulationChoice{KernelKind::Reference, 0};
  if (name == "scalar") return SimulationChoice{KernelKind::Scalar, 0};
  if (name == "avx2") return SimulationChoice{KernelKind::Avx2, 0};
  if (name == "avx512") return SimulationChoice{KernelKind::Avx512, 0};
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  SteppingClock clock(std::strtoll(argv[1], nullptr, 10), std::strtoll(argv[2], nullptr, 10));
  std::vector<std::string> args(argv + 3, argv + argc);
  RunTuning test;
  if (!args.empty() && args[0] == "--progress-now") {
    args.erase(args.begin());
    test.progressAfter = 0.0;
  }
  if (!args.empty() && args[0].rfind("--kernel=", 0) == 0) {
    const std::optional<SimulationChoice> forced = kernelNamed(args[0].substr(9));
    if (!forced) return 2;
    test.simulation = *forced;
    args.erase(args.begin());
  }
  ConsoleInput console;
  return runWithArguments(args, clock, console, test);
}
