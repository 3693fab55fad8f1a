// One valuation's trajectories on the lockstep kernels, straight into one pricer: the tests',
// the benchmark's and the fuzz targets' way of running a kernel on its own (the program runs them
// through the valuation queue, engine/simulation/valuation_queue.h).
#pragma once

#include "engine/simulation/lockstep_simulation.h"
#include "engine/simulation/path_simulation.h"
#include "engine/table/random_generator.h"
#include "engine/valuation/row_pricer.h"

namespace empricer {

// Same contract as simulateOneByOne: the sums must be fresh; the generator is left where the
// last step of the last trajectory leaves it.
void simulateLockstep(const SimulationSetup& setup, RowPricer& sums,
                      RandomGenerator& generator);
// The same on a chosen kernel and width (see planLockstep).
void simulateLockstep(const SimulationSetup& setup, RowPricer& sums,
                      RandomGenerator& generator, KernelKind kind, int lanes = 0);

}  // namespace empricer
