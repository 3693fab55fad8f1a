// The trajectory loop with several trajectories side by side. Each lane starts from the
// generator state that the one-at-a-time loop reaches when its trajectory begins (a jump
// ahead of trajectory x steps draws), applies the same operations in the same order to its
// five paths, and the sums and terminal rows are then added and written in trajectory order.
// The results, the terminal rows and the generator state left behind are bit for bit those of
// simulateOneByOne.
#pragma once

#include "engine/path_simulation.h"

enum class LockstepPath {
  Scalar,  // plain C++, any processor
  Avx2,
  Avx512,
};

// Whether this build and this processor can run the path.
bool lockstepPathAvailable(LockstepPath path);
// The widest available path; what simulateLockstep(setup, sums) uses.
LockstepPath bestLockstepPath();
int lockstepLaneCount(LockstepPath path);
const char* lockstepPathName(LockstepPath path);

// Same contract as simulateOneByOne: the sums must start at zero; the generator is left where
// the last step of the last trajectory leaves it.
void simulateLockstep(const SimulationSetup& setup, SimulationSums& sums,
                      RandomGenerator& generator);
// The same on a chosen path; a path that is not available runs as Scalar.
void simulateLockstep(const SimulationSetup& setup, SimulationSums& sums,
                      RandomGenerator& generator, LockstepPath path);
