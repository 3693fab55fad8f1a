#include "engine/group_valuation.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "engine/valuation_figures.h"
#include "text/output_file.h"

namespace empricer {

namespace {

// The temporary file is written through a buffer of this size.
constexpr std::size_t kTemporaryBuffer = std::size_t{1} << 20;

std::size_t indexOf(const std::vector<std::int32_t>& days, std::int32_t day) {
  return static_cast<std::size_t>(std::lower_bound(days.begin(), days.end(), day) - days.begin());
}

bool isRegularFile(std::FILE* stream) {
  struct stat status;
  return ::fstat(::fileno(stream), &status) == 0 && S_ISREG(status.st_mode);
}

// The request the queue simulates: the group's trajectories to its longest days.
ValuationRequest sharedRequest(const GroupPlan& plan) {
  ValuationRequest shared = plan.common;
  shared.days = groupDays(plan.rows);
  shared.withProbabilities = false;
  return shared;
}

// Whether the group counts wins on its terminal prices: for the winning probabilities, or for
// some row's probabilities of profit at its quote.
bool winsOf(const GroupPlan& plan) {
  if (plan.common.withProbabilities) return true;
  return std::any_of(plan.rows.begin(), plan.rows.end(),
                     [](const GroupRow& row) { return row.quote.any(); });
}

}  // namespace

std::int32_t groupDays(const std::vector<GroupRow>& rows) {
  std::int32_t longest = 0;
  for (const GroupRow& row : rows) longest = std::max(longest, row.days);
  return longest;
}

GroupPlan planGroup(const ValuationRequest& common, std::vector<GroupRow> rows,
                    const char* temporaryFile, std::size_t keptReadBackBytes) {
  GroupPlan plan;
  plan.common = common;
  plan.rows = std::move(rows);
  plan.temporaryFile = temporaryFile;
  std::vector<std::int32_t>& days = plan.keptDays;
  for (const GroupRow& row : plan.rows) {
    days.push_back(std::max(row.days, 0));
    if (row.days >= 2) days.push_back(row.days - 1);
  }
  std::sort(days.begin(), days.end());
  days.erase(std::unique(days.begin(), days.end()), days.end());
  plan.terminal.assign(days.size(), false);
  for (const GroupRow& row : plan.rows) {
    const std::size_t end = indexOf(days, std::max(row.days, 0));
    plan.terminal[end] = true;
    plan.rowEnd.push_back(end);
    plan.rowDayBefore.push_back(
        row.days >= 2 ? static_cast<std::ptrdiff_t>(indexOf(days, row.days - 1)) : -1);
  }
  const std::size_t trajectories =
      static_cast<std::size_t>(std::max<std::int32_t>(0, common.trajectories));
  plan.terminalDays =
      static_cast<std::size_t>(std::count(plan.terminal.begin(), plan.terminal.end(), true));
  // The read-back prices serve the winning probabilities and the probabilities of profit.
  plan.keepReadBack = winsOf(plan) && trajectories * plan.terminalDays * kPathCount *
                                          sizeof(double) <= keptReadBackBytes;
  return plan;
}

GroupPlan planSingle(const ValuationRequest& request, const char* temporaryFile,
                     std::size_t keptReadBackBytes, const MarketQuote& quote) {
  return planGroup(request, {{request.strike, request.days, quote}}, temporaryFile,
                   keptReadBackBytes);
}

void enqueueGroup(ValuationQueue& queue, GroupPlan& plan, RandomGenerator& generator) {
  plan.firstState = generator.state;
  KeptPrices kept{plan.keptDays, plan.keepReadBack ? plan.terminal : std::vector<bool>{},
                  plan.temporaryFile != nullptr && plan.common.withProbabilities};
  queue.enqueue(sharedRequest(plan), generator, std::move(kept));
}

Status completeGroup(ValuationQueue& queue, DistributionCache& distribution,
                     const char* distributionFile, const GroupPlan& plan,
                     const FigureChoice& choice, std::vector<RowFigures>& values,
                     const CompletionWatch& watch) {
  if (Status loaded = distribution.refresh(distributionFile); !loaded.ok()) return loaded;
  const std::vector<GroupRow>& rows = plan.rows;
  const bool probabilities = plan.common.withProbabilities;

  // The temporary file is created (or emptied) in every single valuation, with the
  // probabilities off too: an empty file is left behind then, which users' scripts may look
  // for. A symbolic link of its name is never followed: it counts as a file that cannot be
  // created.
  std::FILE* temporary = nullptr;
  if (plan.temporaryFile != nullptr) {
    temporary = openScratchForWriting(plan.temporaryFile);
    if (temporary == nullptr && probabilities) return openFailure(plan.temporaryFile);
  }
  if (temporary != nullptr && watch.temporaryOpened) watch.temporaryOpened(temporary);
  std::FILE* terminalRows = probabilities ? temporary : nullptr;
  if (terminalRows != nullptr) std::setvbuf(terminalRows, nullptr, _IOFBF, kTemporaryBuffer);
  // However a completion that writes the file ends, its watcher hears of it (without the
  // probabilities the empty file stays, and stays the run's own).
  struct Done {
    const CompletionWatch& watch;
    bool noted;
    ~Done() {
      if (noted && watch.temporaryDone) watch.temporaryDone();
    }
  } done{watch, terminalRows != nullptr};
  bool writeFailed = false;  // the rest of the valuation then writes nothing more

  std::vector<RowPricer> pricers;
  std::vector<double> bumps;
  pricers.reserve(rows.size());
  for (const GroupRow& row : rows) {
    pricers.emplace_back(row.strike, choice.standardErrors);
    // The gamma's bump takes a pass over the draw table: only when the figures are asked for.
    bumps.push_back(choice.desk ? gammaBump(distribution.current()->draws, row.days) : 0.0);
    if (choice.desk) pricers.back().addDeskSums(bumps.back());
  }
  const std::size_t terminalDays = plan.terminalDays;
  std::vector<double> kept;  // trajectory by trajectory, the terminal days' read-back prices
  if (plan.keepReadBack) {
    kept.reserve(static_cast<std::size_t>(std::max<std::int32_t>(0, plan.common.trajectories)) *
                 terminalDays * kPathCount);
  }
  auto priceOf = [&](const double* trajectory, std::size_t r) {
    pricers[r].add(trajectory + plan.rowEnd[r] * kPathCount,
                   plan.rowDayBefore[r] < 0
                       ? nullptr
                       : trajectory + static_cast<std::size_t>(plan.rowDayBefore[r]) * kPathCount);
  };
  queue.completeNext(
      distribution,
      [&](const TrajectoryPrices& prices) {
        const std::size_t width = prices.keptDays * kPathCount;
        for (std::int64_t t = 0; t < prices.count; ++t) {
          const std::size_t at = static_cast<std::size_t>(t) * width;
          for (std::size_t r = 0; r < rows.size(); ++r) priceOf(prices.prices + at, r);
          if (plan.keepReadBack) {
            for (std::size_t d = 0; d < prices.keptDays; ++d) {
              if (!plan.terminal[d]) continue;
              const double* back = prices.readBack + at + d * kPathCount;
              kept.insert(kept.end(), back, back + kPathCount);
            }
          }
        }
        if (terminalRows != nullptr && !writeFailed) {
          writeFailed = std::fwrite(prices.rows.data(), 1, prices.rows.size(), terminalRows) !=
                        prices.rows.size();
        }
      },
      watch.progress);

  // The figures of each row, by the rules of a single valuation of its days.
  const double total = static_cast<double>(plan.common.trajectories);
  values.assign(rows.size(), RowFigures{});
  for (std::size_t r = 0; r < rows.size(); ++r) {
    ValuationRequest request = plan.common;
    request.strike = rows[r].strike;
    request.days = rows[r].days;
    fillFigures(request, pricers[r].sums(), total, values[r].result);
    if (choice.standardErrors) values[r].errors = pricers[r].standardErrors(discountOf(request));
    if (choice.desk) {
      values[r].desk = deskFigures(request, values[r].result, pricers[r].deskSums(), total,
                                   bumps[r], choice.tradingDays);
    }
  }
  if (temporary != nullptr) {
    // Without the probabilities the empty file serves nothing, and its close is not looked at.
    const bool regular = terminalRows != nullptr && isRegularFile(temporary);
    const bool closed = closeWritten(temporary).ok();
    if (terminalRows != nullptr && (writeFailed || !closed)) {
      // A partial file is of no use; only a file of our own is removed, never a device.
      if (regular) std::remove(plan.temporaryFile);
      return Failure{writeFailureText(plan.temporaryFile)};
    }
  }
  if (!winsOf(plan)) return {};

  // The winning probabilities, against each row's own values, and the probabilities of profit
  // at each row's quote, on the read-back terminal prices of the same trajectories.
  for (std::size_t r = 0; r < rows.size(); ++r) {
    pricers[r].startWins(values[r].result);
    pricers[r].startProfits(rows[r].quote.call, rows[r].quote.put);
  }
  std::vector<std::size_t> terminalSlot(plan.keptDays.size(), 0);  // among the terminal days
  for (std::size_t d = 0, slot = 0; d < plan.keptDays.size(); ++d) {
    if (plan.terminal[d]) terminalSlot[d] = slot++;
  }
  auto count = [&](const double* terminalPrices /* terminalDays x kPathCount */) {
    for (std::size_t r = 0; r < rows.size(); ++r) {
      pricers[r].addWins(terminalPrices + terminalSlot[plan.rowEnd[r]] * kPathCount);
    }
  };
  if (plan.keepReadBack) {
    const std::size_t width = terminalDays * kPathCount;
    for (std::size_t at = 0; at < kept.size(); at += width) count(&kept[at]);
  } else if (plan.common.trajectories > 0) {
    // The same trajectories again, from the group's first state, before any other valuation.
    RandomGenerator again{plan.firstState};
    queue.enqueue(sharedRequest(plan), again, {plan.keptDays, plan.terminal, false}, true);
    std::vector<double> one(terminalDays * kPathCount);
    queue.completeNext(
        distribution,
        [&](const TrajectoryPrices& prices) {
          const std::size_t width = prices.keptDays * kPathCount;
          for (std::int64_t t = 0; t < prices.count; ++t) {
            const double* back = prices.readBack + static_cast<std::size_t>(t) * width;
            for (std::size_t d = 0; d < prices.keptDays; ++d) {
              if (plan.terminal[d]) {
                std::copy(back + d * kPathCount, back + (d + 1) * kPathCount,
                          &one[terminalSlot[d] * kPathCount]);
              }
            }
            count(one.data());
          }
        },
        watch.progress);
  }
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (probabilities) pricers[r].fillProbabilities(total, values[r].result);
    if (rows[r].quote.any()) {
      pricers[r].fillProfits(total, values[r].profitCall, values[r].profitPut);
    }
  }
  // Without the probabilities the empty file stays, as in any valuation.
  if (temporary != nullptr && probabilities) std::remove(plan.temporaryFile);
  return {};
}

}  // namespace empricer
