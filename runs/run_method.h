// The one place a run's method is chosen from its options, and what the run's outputs say of
// it. Past this choice nothing in a run asks which method values its rows.
#pragma once

#include <string>

#include "runs/run_config.h"
#include "engine/rows/row_valuer.h"

namespace empricer {

struct RunMethod {
  ValuationMethod method;
  // What the outputs say of it (describeMethod): the results file's and the picture's.
  MethodDescription description;
  // A line below the settings that names the method ("" for none).
  std::string banner;
};

RunMethod chooseMethod(const RunConfig& config);

}  // namespace empricer
