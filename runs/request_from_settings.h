// The part of a valuation request that comes from the settings.
#pragma once

#include "engine/valuation/records.h"
#include "runs/settings.h"

namespace empricer {

inline ValuationRequest requestFromSettings(const RunSettings& settings) {
  ValuationRequest request;
  request.riskFreeRate = settings.riskFreeRate;
  request.trajectories = settings.trajectories;
  request.stepFraction = settings.stepFraction;
  for (int k = 0; k < 4; ++k) request.shiftFactor[k] = settings.shiftFactor[k];
  request.withProbabilities = settings.withProbabilities;
  request.stepsPerDay = settings.stepsPerDay;
  return request;
}

}  // namespace empricer
