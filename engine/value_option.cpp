#include "engine/value_option.h"

#include <cmath>
#include <memory>

#include "engine/draw_table.h"
#include "engine/lockstep_simulation.h"
#include "engine/path_simulation.h"
#include "engine/return_table.h"
#include "engine/winning_probabilities.h"
#include "text/output_file.h"

namespace {

// The rate enters the shifted paths' growth per step scaled by 0.01, and the discount without
// it. The two are not meant to agree; "fixing" either changes every shifted value.
constexpr double kRateScale = 0.01;
// The base of the discount power is this truncated literal, not e: std::exp(x) and
// std::pow(2.718281828459, x) differ in the last bits, and the results with them.
constexpr double kDiscountBase = 2.718281828459;

}  // namespace

Status valueOption(const ValuationRequest& request, ValuationResult& result,
                   RandomGenerator& generator, const ValuationFiles& files) {
  auto table = std::make_unique<ReturnTable>();
  if (Status loaded = loadReturnTable(*table, files.distribution); !loaded.ok()) return loaded;

  // The temporary file is created (or emptied) in every valuation, with the probabilities off
  // too: an empty file is left behind then, which users' scripts may look for.
  std::FILE* temporary = openForWriting(files.temporary);
  if (temporary == nullptr && request.withProbabilities) return openFailure(files.temporary);

  SimulationSums sums{};
  if (request.trajectories >= 1) {
    SimulationSetup setup{};
    for (int p = 0; p < kPathCount; ++p) setup.start[p] = startPriceOfPath(request, p);
    setup.strike = request.strike;
    // (rate x stepFraction) x 0.01 + 1, in this order.
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
    simulateLockstep(setup, sums, generator);
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
  // The discount factor multiplies the variance inside the root, not the spread outside it:
  // the reported spread is sqrt(d) times the plain one, and must stay so.
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
  if (request.withProbabilities) return computeWinningProbabilities(request, result, files.temporary);
  return {};
}
