#include "tests/support/simulate_lockstep.h"

#include <cstddef>

#include "engine/table/random_jump.h"
#include "engine/valuation/terminal_text.h"

namespace empricer {

void simulateLockstep(const SimulationSetup& setup, RowPricer& sums,
                      RandomGenerator& generator) {
  simulateLockstep(setup, sums, generator, bestKernel());
}

void simulateLockstep(const SimulationSetup& setup, RowPricer& sums,
                      RandomGenerator& generator, KernelKind kind, int lanes) {
  if (setup.trajectories <= 0) return;
  const LockstepPlan plan = planLockstep(setup, rangeOfReturns(*setup.draws), kind, lanes);
  const std::size_t records = plan.keptDays.size();
  forEachTrajectory(plan, generator.state, setup.trajectories, nullptr,
                    [&](const double* kept) {
                      const double* terminal = terminalOfKept(kept, records);
                      if (setup.terminalRows != nullptr) {
                        appendTerminalRow(setup.terminalRows, terminal);
                      }
                      sums.add(terminal, dayBeforeOfKept(kept, records));
                    });
  generator.state = applyJump(randomJump(drawsOf(setup.trajectories, setup.days, setup.stepsPerDay)),
                              generator.state);
}

}  // namespace empricer
