// A chain: options on one underlying price, each with its own strike and days, valued on one
// shared set of trajectories run to the longest expiry. Each row takes every trajectory's
// prices at the end of its own days (and a day before), and is then valued by the rules of a
// single valuation of those days, so a chain of one row gives that valuation's bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/desk_figures.h"
#include "engine/distribution_cache.h"
#include "engine/outcome.h"
#include "engine/random_generator.h"
#include "engine/records.h"
#include "engine/trajectory_accumulator.h"
#include "engine/valuation_queue.h"

namespace empricer {

struct ChainRow {
  double strike;
  std::int32_t days;
};

struct ChainValues {
  ValuationResult result;
  StandardErrors errors;  // filled when asked for
  DeskFigures desk;       // likewise
};

struct ChainHooks {
  bool standardErrors = false;
  bool desk = false;
  double tradingDays = 252.0;
  // Called now and then with the share of the chain's trajectories done so far.
  std::function<void(double share)> progress;
};

// The longest days of `rows` that run a step (0 when none does).
std::int32_t chainDays(const std::vector<ChainRow>& rows);

// Values `rows` on the trajectories of `common` (its spot, rate, step fraction, shifts,
// trajectories and probabilities; its strike and days are not used) run for chainDays(rows)
// days, the first draw following the generator's state, which it moves past the chain's
// draws. Reads `distributionFile` once. `queue` must hold no valuation. The winning
// probabilities compare each terminal price as it reads back from its six-digit text; no file
// is written. Fails, with the message the program stops with, when the distribution does not
// load.
Status valueChain(const ValuationRequest& common, const std::vector<ChainRow>& rows,
                  RandomGenerator& generator, ValuationQueue& queue,
                  DistributionCache& distribution, const char* distributionFile,
                  std::vector<ChainValues>& values, const ChainHooks& hooks = {});

}  // namespace empricer
