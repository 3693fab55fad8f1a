// The one place a run's method is chosen from its options, and what the run's outputs say of
// it. Past this choice nothing in a run asks which method values its rows.
#pragma once

#include <string>

#include "runs/run_options.h"
#include "engine/rows/row_valuer.h"

namespace empricer {

struct RunMethod {
  ValuationMethod method;
  // A line below the settings that names the method ("" for none).
  std::string banner;
  // The figures come from sampled trajectories: the results file and the picture name their
  // number (and the seed), rather than "exact".
  bool sampled;
};

RunMethod chooseMethod(const ProgramOptions& options);

}  // namespace empricer
