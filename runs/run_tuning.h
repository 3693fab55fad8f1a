// How a run goes beyond what its options say: the kernel the trajectories are simulated on
// and how long the work goes before the progress line may appear. The program runs with the
// defaults; any kernel gives the same bytes (a whole run can be compared kernel by kernel).
#pragma once

#include "engine/simulation/valuation_queue.h"

namespace empricer {

struct RunTuning {
  SimulationChoice simulation;  // the kernel: the widest this processor has
  double progressAfter = 1.0;   // seconds of work before the progress line may appear
  // Called once before an --exact or --calibrate run, whose transforms take and give back
  // large buffers many times (the program readies its heap for them); none by default.
  void (*largeBuffers)() = nullptr;
};

}  // namespace empricer
