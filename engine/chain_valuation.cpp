#include "engine/chain_valuation.h"

#include <algorithm>

#include "engine/valuation_figures.h"

namespace empricer {

namespace {

// The read-back terminal prices are kept for the probabilities up to this size; a larger
// chain runs its trajectories a second time instead.
constexpr std::size_t kKeptReadBackBytes = std::size_t{64} << 20;

// Where each row finds its prices among the kept ones.
struct RowRecords {
  std::size_t terminal;   // index into the record days
  std::ptrdiff_t dayBefore;  // the same, or -1 when days < 2
};

std::size_t indexOf(const std::vector<std::int32_t>& days, std::int32_t day) {
  return static_cast<std::size_t>(std::lower_bound(days.begin(), days.end(), day) - days.begin());
}

}  // namespace

std::int32_t chainDays(const std::vector<ChainRow>& rows) {
  std::int32_t longest = 0;
  for (const ChainRow& row : rows) longest = std::max(longest, row.days);
  return longest;
}

Status valueChain(const ValuationRequest& common, const std::vector<ChainRow>& rows,
                  RandomGenerator& generator, ValuationQueue& queue,
                  DistributionCache& distribution, const char* distributionFile,
                  std::vector<ChainValues>& values, const ChainHooks& hooks) {
  if (Status loaded = distribution.refresh(distributionFile); !loaded.ok()) return loaded;

  // The record days: each row's last day and the day before it, the start for rows that run
  // no step.
  std::vector<std::int32_t> days;
  for (const ChainRow& row : rows) {
    days.push_back(std::max(row.days, 0));
    if (row.days >= 2) days.push_back(row.days - 1);
  }
  std::sort(days.begin(), days.end());
  days.erase(std::unique(days.begin(), days.end()), days.end());
  std::vector<RowRecords> where;
  std::vector<bool> terminal(days.size(), false);
  for (const ChainRow& row : rows) {
    const std::size_t end = indexOf(days, std::max(row.days, 0));
    terminal[end] = true;
    where.push_back({end, row.days >= 2 ? static_cast<std::ptrdiff_t>(indexOf(days, row.days - 1))
                                        : std::ptrdiff_t{-1}});
  }

  ValuationRequest shared = common;
  shared.days = chainDays(rows);
  shared.withProbabilities = false;  // no temporary file
  const RandomGenerator first = generator;
  const bool probabilities = common.withProbabilities;
  const std::size_t trajectories =
      static_cast<std::size_t>(std::max<std::int32_t>(0, common.trajectories));
  const std::size_t terminalDays = static_cast<std::size_t>(std::count(terminal.begin(), terminal.end(), true));
  const bool keep =
      probabilities && trajectories * terminalDays * kPathCount * sizeof(double) <= kKeptReadBackBytes;
  std::vector<double> kept;  // trajectory by trajectory, the terminal records' read-back prices
  if (keep) kept.reserve(trajectories * terminalDays * kPathCount);

  std::vector<TrajectoryAccumulator> sums;
  std::vector<double> bumps;
  for (const ChainRow& row : rows) {
    sums.emplace_back(row.strike, hooks.standardErrors);
    bumps.push_back(hooks.desk ? gammaBump(distribution.current()->draws, row.days) : 0.0);
    if (hooks.desk) sums.back().addDeskSums(bumps.back());
  }
  queue.enqueue(shared, generator, {days, keep ? terminal : std::vector<bool>{}});
  queue.completeNext(
      distribution,
      [&](const TrajectoryPrices& prices) {
        const std::size_t width = prices.records * kPathCount;
        for (std::int64_t t = 0; t < prices.count; ++t) {
          const std::size_t at = static_cast<std::size_t>(t) * width;
          const double* trajectory = prices.prices + at;
          for (std::size_t r = 0; r < rows.size(); ++r) {
            sums[r].add(trajectory + where[r].terminal * kPathCount,
                        where[r].dayBefore < 0
                            ? nullptr
                            : trajectory + static_cast<std::size_t>(where[r].dayBefore) * kPathCount);
          }
          if (keep) {
            for (std::size_t d = 0; d < prices.records; ++d) {
              if (!terminal[d]) continue;
              const double* back = prices.readBack + at + d * kPathCount;
              kept.insert(kept.end(), back, back + kPathCount);
            }
          }
        }
      },
      hooks.progress);

  values.assign(rows.size(), ChainValues{});
  for (std::size_t r = 0; r < rows.size(); ++r) {
    ValuationRequest request = common;
    request.strike = rows[r].strike;
    request.days = rows[r].days;
    fillFigures(request, sums[r].sums(), values[r].result);
    if (hooks.standardErrors) values[r].errors = sums[r].standardErrors(discountOf(request));
    if (hooks.desk) {
      values[r].desk = deskFigures(request, values[r].result, sums[r].deskSums(), bumps[r],
                                   hooks.tradingDays);
    }
  }
  if (!probabilities) return {};

  // The winning probabilities, against each row's own values.
  const std::size_t n = rows.size();
  std::vector<double> callThreshold(n * kPathCount), putThreshold(n * kPathCount);
  std::vector<double> callCount(n * kPathCount, 0.0), putCount(n * kPathCount, 0.0);
  for (std::size_t r = 0; r < n; ++r) {
    for (int p = 0; p < kPathCount; ++p) {
      const std::size_t i = r * kPathCount + static_cast<std::size_t>(p);
      callThreshold[i] = rows[r].strike + callValueOfPath(values[r].result, p);
      putThreshold[i] = rows[r].strike - putValueOfPath(values[r].result, p);
    }
  }
  // Terminal record d of one trajectory, read back, counted for every row that ends there.
  std::vector<std::size_t> terminalSlot(days.size(), 0);  // its place among the terminal ones
  for (std::size_t d = 0, slot = 0; d < days.size(); ++d) {
    if (terminal[d]) terminalSlot[d] = slot++;
  }
  auto count = [&](const double* terminalPrices /* terminalDays x kPathCount */) {
    for (std::size_t r = 0; r < n; ++r) {
      const double* v = terminalPrices + terminalSlot[where[r].terminal] * kPathCount;
      for (int p = 0; p < kPathCount; ++p) {
        const std::size_t i = r * kPathCount + static_cast<std::size_t>(p);
        if (v[p] > callThreshold[i]) callCount[i] += 1.0;
        if (v[p] < putThreshold[i]) putCount[i] += 1.0;
      }
    }
  };
  if (keep) {
    for (std::size_t t = 0; t < trajectories; ++t) count(&kept[t * terminalDays * kPathCount]);
  } else {
    // The same trajectories again, from the chain's first state.
    RandomGenerator again = first;
    queue.enqueue(shared, again, {days, terminal});
    std::vector<double> one(terminalDays * kPathCount);
    queue.completeNext(
        distribution,
        [&](const TrajectoryPrices& prices) {
          const std::size_t width = prices.records * kPathCount;
          for (std::int64_t t = 0; t < prices.count; ++t) {
            const double* back = prices.readBack + static_cast<std::size_t>(t) * width;
            for (std::size_t d = 0; d < prices.records; ++d) {
              if (terminal[d]) {
                std::copy(back + d * kPathCount, back + (d + 1) * kPathCount,
                          &one[terminalSlot[d] * kPathCount]);
              }
            }
            count(one.data());
          }
        },
        hooks.progress);
  }
  const double q = 1.0 / static_cast<double>(common.trajectories);
  for (std::size_t r = 0; r < n; ++r) {
    for (int p = 0; p < kPathCount; ++p) {
      const std::size_t i = r * kPathCount + static_cast<std::size_t>(p);
      values[r].result.probCall[p] = q * callCount[i];
      values[r].result.probPut[p] = q * putCount[i];
    }
  }
  return {};
}

}  // namespace empricer
