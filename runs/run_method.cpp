#include "runs/run_method.h"

namespace empricer {

RunMethod chooseMethod(const ProgramOptions& options) {
  // --exact says so below the settings: its figures are limits, and no trajectory is drawn.
  if (options.exact) {
    return {ValuationMethod::exact, "Method:               exact limits (--exact)", false};
  }
  return {options.chain ? ValuationMethod::chains : ValuationMethod::simulation, "", true};
}

}  // namespace empricer
