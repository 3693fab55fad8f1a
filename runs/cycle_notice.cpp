#include "runs/cycle_notice.h"

#include "engine/valuation/constants.h"
#include "engine/table/random_generator.h"

namespace empricer {

std::string cycleReason(const ValuationDraws& valuation) {
  const std::uint64_t stepsPerTrajectory =
      static_cast<std::uint64_t>(valuation.days) * static_cast<std::uint64_t>(valuation.stepsPerDay);
  const std::uint64_t repeats = valuation.repeats();
  return "it takes " + std::to_string(valuation.draws()) + " draws (" +
         std::to_string(valuation.trajectories) + " trajectories x " +
         std::to_string(valuation.stepsPerDay) + " x " + std::to_string(valuation.days) +
         " days), and the generator's outputs repeat every 2^31 draws (these wrap " +
         std::to_string(repeats) + (repeats == 1 ? " time" : " times") + "): the cycle holds " +
         std::to_string(kOutputPeriod / stepsPerTrajectory) + " trajectories of " +
         std::to_string(valuation.days) +
         " days, and past that the standard errors and the spread between seeds overstate the "
         "precision";
}

}  // namespace empricer
