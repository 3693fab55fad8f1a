#include "engine/value_option.h"

#include <cmath>
#include <memory>
#include <string>

#include "engine/draw_table.h"
#include "engine/lockstep_simulation.h"
#include "engine/path_simulation.h"
#include "engine/return_table.h"
#include "engine/winning_probabilities.h"
#include "input/output_file.h"
#include "input/stop.h"

namespace {

constexpr double kRateScale = 0.01;
constexpr double kDiscountBase = 2.718281828459;

}  // namespace

void valueOption(const ValuationRequest& request, ValuationResult& result) {
  auto table = std::make_unique<ReturnTable>();
  loadReturnTable(*table);

  std::FILE* temporary = openForWriting(kTemporaryFileName);
  if (temporary == nullptr && request.withProbabilities) {
    stopProgram(std::string("Error opening file: ") + kTemporaryFileName);
  }

  SimulationSums sums{};
  if (request.trajectories >= 1) {
    SimulationSetup setup{};
    for (int p = 0; p < kPathCount; ++p) setup.start[p] = startPriceOfPath(request, p);
    setup.strike = request.strike;
    setup.growth = request.riskFreeRate * request.stepFraction * kRateScale + 1.0;
    setup.days = request.days;
    setup.trajectories = request.trajectories;
    setup.terminalRows = request.withProbabilities ? temporary : nullptr;
    auto draws = std::make_unique<DrawTable>();
    if (request.days >= 1) {
      // The total weight was checked to fit 32 bits when the table was loaded.
      buildDrawTable(*table, static_cast<std::int32_t>(table->totalWeight), *draws);
    }
    setup.draws = draws.get();
    simulateLockstep(setup, sums);
  }

  const double days = static_cast<double>(request.days);
  const double d = std::pow(kDiscountBase, -(days * request.riskFreeRate * request.stepFraction));
  const double n = static_cast<double>(request.trajectories);
  const double q = 1.0 / n;

  result.callValue = q * d * sums.call[kBasePath];
  result.putValue = q * d * sums.put[kBasePath];
  for (int k = 0; k < 4; ++k) {
    result.shiftCall[k] = q * d * sums.call[kShiftedPathIndex[k]];
    result.shiftPut[k] = q * d * sums.put[kShiftedPathIndex[k]];
  }
  result.stdevS = std::pow(
      (n * sums.sumSquares - sums.sumPrices * sums.sumPrices) / n / (n - 1.0) * d, 0.5);

  const double daysBefore = static_cast<double>(static_cast<std::int64_t>(request.days) - 1);
  const double d1 =
      std::pow(kDiscountBase, -(daysBefore * request.riskFreeRate * request.stepFraction));
  for (int p = 0; p < kPathCount; ++p) {
    result.thetaCall[p] = callValueOfPath(result, p) - q * d1 * sums.dayBeforeCall[p];
    result.thetaPut[p] = putValueOfPath(result, p) - q * d1 * sums.dayBeforePut[p];
  }

  if (temporary != nullptr) std::fclose(temporary);
  if (request.withProbabilities) computeWinningProbabilities(request, result);
}
