#include "runs/run_method.h"

namespace empricer {

RunMethod chooseMethod(const RunConfig& config) {
  // --exact says so below the settings: its figures are limits, and no trajectory is drawn.
  if (config.exact) {
    return {ValuationMethod::exact, describeMethod(ValuationMethod::exact),
            "Method:               exact limits (--exact)"};
  }
  const ValuationMethod method =
      config.chain ? ValuationMethod::chains : ValuationMethod::simulation;
  return {method, describeMethod(method), ""};
}

}  // namespace empricer
