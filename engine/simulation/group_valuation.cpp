#include "engine/simulation/group_valuation.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <system_error>
#include <thread>
#include <string_view>

#include "engine/desk/valuation_figures.h"
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
  shared.days = simulatedDays(plan);
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

std::int32_t simulatedDays(const GroupPlan& plan) {
  std::int32_t days = groupDays(plan.rows);
  for (const ExpiryQuotes& e : plan.calibration) days = std::max(days, e.days);
  return days;
}

GroupPlan planGroup(const ValuationRequest& common, std::vector<GroupRow> rows,
                    const char* temporaryFile, std::size_t keptReadBackBytes,
                    std::vector<ExpiryQuotes> calibration) {
  GroupPlan plan;
  plan.common = common;
  plan.rows = std::move(rows);
  plan.temporaryFile = temporaryFile;
  plan.calibration = std::move(calibration);
  std::vector<std::int32_t>& days = plan.keptDays;
  for (const GroupRow& row : plan.rows) {
    days.push_back(std::max(row.days, 0));
    if (row.days >= 2) days.push_back(row.days - 1);
  }
  for (const ExpiryQuotes& e : plan.calibration) days.push_back(e.days);
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
  for (const ExpiryQuotes& e : plan.calibration) plan.expiryAt.push_back(indexOf(days, e.days));
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

namespace {

// The temporary file of a single valuation's terminal prices: created (or emptied) by every
// completion, with the probabilities off too (an empty file is left behind then, which users'
// scripts may look for), written with the probabilities on, then removed. A symbolic link of
// its name is never followed: it counts as a file that cannot be created. Whoever watches the
// completion hears when it is opened and, when its rows are written, when it is done with.
class ScratchFile {
 public:
  ScratchFile(const GroupPlan& plan, const CompletionWatch& watch)
      : name_(plan.temporaryFile), watch_(watch) {
    if (name_ != nullptr) {
      if (watch_.temporaryOpening) watch_.temporaryOpening();
      stream_ = openScratchForWriting(name_);
      if (watch_.temporaryOpened) watch_.temporaryOpened(stream_);
    }
    if (plan.common.withProbabilities) rows_ = stream_;
    if (rows_ != nullptr) std::setvbuf(rows_, nullptr, _IOFBF, kTemporaryBuffer);
  }
  ~ScratchFile() {
    if (rows_ != nullptr && watch_.temporaryDone) watch_.temporaryDone();
  }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  // The file could not be made while its rows are wanted.
  bool missing(const GroupPlan& plan) const {
    return name_ != nullptr && stream_ == nullptr && plan.common.withProbabilities;
  }
  // A chunk's terminal rows; after a failed write the rest of the valuation writes nothing.
  void write(std::string_view rows) {
    if (rows_ != nullptr && !writeFailed_) {
      writeFailed_ = std::fwrite(rows.data(), 1, rows.size(), rows_) != rows.size();
    }
  }
  // Closes the file. Without the rows the empty file serves nothing, and its close is not
  // looked at; a partial file of rows is of no use, and only a file of our own is removed,
  // never a device.
  Status close() {
    if (stream_ == nullptr) return {};
    const bool regular = rows_ != nullptr && isRegularFile(stream_);
    const bool closed = closeWritten(stream_).ok();
    stream_ = nullptr;
    if (rows_ != nullptr && (writeFailed_ || !closed)) {
      if (regular) std::remove(name_);
      return writeFailure(name_);
    }
    return {};
  }
  // Its rows served their purpose.
  void removeRows() {
    if (rows_ != nullptr) std::remove(name_);
  }

 private:
  const char* name_;
  const CompletionWatch& watch_;
  std::FILE* stream_ = nullptr;
  std::FILE* rows_ = nullptr;
  bool writeFailed_ = false;
};

// One pricer per row, with the desk sums and their bumps when the figures are asked for.
struct GroupPricers {
  std::vector<RowPricer> pricers;
  std::vector<double> bumps;
};

GroupPricers pricersOf(const GroupPlan& plan, const FigureChoice& choice,
                       const DrawTable& draws) {
  GroupPricers group;
  group.pricers.reserve(plan.rows.size());
  for (const GroupRow& row : plan.rows) {
    group.pricers.emplace_back(row.strike, choice.standardErrors);
    // The gamma's bump takes a pass over the draw table: only when the figures are asked for.
    group.bumps.push_back(choice.desk ? gammaBump(draws, row.days, plan.common.stepsPerDay) : 0.0);
    if (choice.desk) group.pricers.back().addDeskSums(group.bumps.back());
  }
  return group;
}

// Takes the group's trajectories from the queue: each row's prices into its pricer, the
// terminal days' read-back prices into `kept` (when the plan keeps them), the terminal rows
// into the scratch file.
bool addTrajectories(ValuationQueue& queue, DistributionCache& distribution,
                     const GroupPlan& plan, GroupPricers& group, std::vector<double>& kept,
                     ScratchFile& scratch, const CompletionWatch& watch,
                     std::vector<double>* stored) {
  if (plan.keepReadBack) {
    kept.reserve(static_cast<std::size_t>(std::max<std::int32_t>(0, plan.common.trajectories)) *
                 plan.terminalDays * kPathCount);
  }
  auto priceOf = [&](const double* trajectory, std::size_t r) {
    group.pricers[r].add(
        trajectory + plan.rowEnd[r] * kPathCount,
        plan.rowDayBefore[r] < 0
            ? nullptr
            : trajectory + static_cast<std::size_t>(plan.rowDayBefore[r]) * kPathCount);
  };
  return queue.completeNext(
      distribution,
      [&](const TrajectoryPrices& prices) {
        const std::size_t width = prices.keptDays * kPathCount;
        if (stored != nullptr) {
          // Weighted later, once the measure is known from every trajectory.
          stored->insert(stored->end(), prices.prices,
                         prices.prices + static_cast<std::size_t>(prices.count) * width);
        }
        for (std::int64_t t = 0; t < prices.count; ++t) {
          const std::size_t at = static_cast<std::size_t>(t) * width;
          if (stored == nullptr) {
            for (std::size_t r = 0; r < plan.rows.size(); ++r) priceOf(prices.prices + at, r);
          }
          if (!plan.keepReadBack) continue;
          for (std::size_t d = 0; d < prices.keptDays; ++d) {
            if (!plan.terminal[d]) continue;
            const double* back = prices.readBack + at + d * kPathCount;
            kept.insert(kept.end(), back, back + kPathCount);
          }
        }
        scratch.write(prices.rows);
      },
      watch.progress);
}

// work(0, count) on this thread; or, with two threads or more and two items or more, work(0,
// count / 2) here and work(count / 2, count) on a second thread (all here when none can be had).
template <typename Work>
void inTwo(int threads, std::size_t count, const Work& work) {
  const std::size_t half = threads >= 2 && count >= 2 ? count / 2 : count;
  std::thread later;
  if (half < count) {
    try {
      later = std::thread(work, half, count);
    } catch (const std::system_error&) {
      // No thread: all on this one.
    }
  }
  work(0, later.joinable() ? half : count);
  if (later.joinable()) later.join();
}

// The weights of every trajectory of each path under the measure calibrated on the base
// path's prices at the quoted expiries (engine/exact/sample_measure.h), path p's weight from its own
// prices scaled back to S0, each path's weights summing to the trajectories' count; and the
// rows priced with them.
std::vector<double> weightTrajectories(const GroupPlan& plan, GroupPricers& group,
                                       const std::vector<double>& stored, SampleMeasure& measure,
                                       const WorkWatch& watch) {
  const std::size_t width = plan.keptDays.size() * kPathCount;
  const std::size_t paths = width == 0 ? 0 : stored.size() / width;
  const std::size_t m = plan.calibration.size();
  double start[kPathCount];
  for (int p = 0; p < kPathCount; ++p) start[p] = startPriceOfPath(plan.common, p);
  std::vector<double> x(paths * m);
  for (std::size_t t = 0; t < paths; ++t) {
    for (std::size_t e = 0; e < m; ++e) {
      x[t * m + e] = stored[t * width + plan.expiryAt[e] * kPathCount + kBasePath] /
                     start[kBasePath];
    }
  }
  measure = calibrateSample(x, plan.calibration, plan.calibrationForwards, watch);
  if (watch.stopped()) return {};
  std::vector<double> weights(paths * kPathCount, 1.0);
  // Every path's log weight from its own prices, trajectory by trajectory (the five paths'
  // prices of a day lie together); a second thread may take the later trajectories.
  std::vector<double> logs(paths * kPathCount);
  inTwo(plan.threads, paths, [&](std::size_t from, std::size_t to) {
    std::vector<double> own(m);
    for (std::size_t t = from; t < to; ++t) {
      for (std::size_t p = 0; p < kPathCount; ++p) {
        for (std::size_t e = 0; e < m; ++e) {
          own[e] = stored[t * width + plan.expiryAt[e] * kPathCount + p] / start[p];
        }
        logs[p * paths + t] = logWeightOf(measure, own.data());
      }
    }
  });
  // Each path's weights are its own: a second thread may take the later paths.
  inTwo(plan.threads, kPathCount, [&](std::size_t fromPath, std::size_t toPath) {
    for (std::size_t p = fromPath; p < toPath; ++p) {
      double* mine = &logs[p * paths];
      double top = -std::numeric_limits<double>::infinity();
      for (std::size_t t = 0; t < paths; ++t) top = std::max(top, mine[t]);
      double sum = 0.0;
      for (std::size_t t = 0; t < paths; ++t) {
        mine[t] = std::exp(mine[t] - top);
        sum += mine[t];
      }
      const double scale = static_cast<double>(paths) / sum;
      for (std::size_t t = 0; t < paths; ++t) weights[t * kPathCount + p] = mine[t] * scale;
    }
  });
  // Each row's sums take the trajectories in their order; the rows are independent, so a second
  // thread may take the later half of them.
  inTwo(plan.threads, plan.rows.size(), [&](std::size_t from, std::size_t to) {
    for (std::size_t t = 0; t < paths; ++t) {
      const double* trajectory = &stored[t * width];
      const double* w = &weights[t * kPathCount];
      for (std::size_t r = from; r < to; ++r) {
        RowPricer& pricer = group.pricers[r];
        for (int p = 0; p < kPathCount; ++p) {
          if (plan.rowDayBefore[r] >= 0) {
            pricer.addDayBefore(p, trajectory[static_cast<std::size_t>(plan.rowDayBefore[r]) * kPathCount + static_cast<std::size_t>(p)], w[p]);
          }
          pricer.addTerminal(p, trajectory[plan.rowEnd[r] * kPathCount + static_cast<std::size_t>(p)], w[p]);
        }
      }
    }
  });
  return weights;
}

// Each row's expectations: its sums over the group's trajectories.
RowExpectations expectationsOf(const GroupPlan& plan, const GroupPricers& group, std::size_t r) {
  RowExpectations e;
  e.total = static_cast<double>(plan.common.trajectories);
  e.payoffs = group.pricers[r].sums();
  e.variance = sampleVariance(e.payoffs, e.total);
  e.desk = group.pricers[r].deskSums();
  e.gammaDefined = e.total >= 2.0;
  e.bump = group.bumps[r];
  return e;
}

ValuationRequest requestOfRow(const GroupPlan& plan, std::size_t r) {
  ValuationRequest request = plan.common;
  request.strike = plan.rows[r].strike;
  request.days = plan.rows[r].days;
  return request;
}

// Counts every row's wins on the read-back terminal prices of the group's trajectories: those
// kept, or the same trajectories simulated again from the group's first state, before any
// other valuation.
bool countWins(ValuationQueue& queue, DistributionCache& distribution, const GroupPlan& plan,
               GroupPricers& group, const std::vector<double>& kept,
               const CompletionWatch& watch, const std::vector<double>& weights) {
  const std::size_t terminalDays = plan.terminalDays;
  std::vector<std::size_t> terminalSlot(plan.keptDays.size(), 0);  // among the terminal days
  for (std::size_t d = 0, slot = 0; d < plan.keptDays.size(); ++d) {
    if (plan.terminal[d]) terminalSlot[d] = slot++;
  }
  std::size_t trajectory = 0;
  auto count = [&](const double* terminalPrices /* terminalDays x kPathCount */) {
    for (std::size_t r = 0; r < plan.rows.size(); ++r) {
      const double* prices = terminalPrices + terminalSlot[plan.rowEnd[r]] * kPathCount;
      if (weights.empty()) {
        group.pricers[r].addWins(prices);
      } else {
        for (int p = 0; p < kPathCount; ++p) {
          group.pricers[r].addWin(p, prices[p], weights[trajectory * kPathCount + static_cast<std::size_t>(p)]);
        }
      }
    }
    ++trajectory;
  };
  if (plan.keepReadBack) {
    const std::size_t width = terminalDays * kPathCount;
    for (std::size_t at = 0; at < kept.size(); at += width) count(&kept[at]);
    return true;
  }
  if (plan.common.trajectories <= 0) return true;
  RandomGenerator again{plan.firstState};
  queue.enqueue(sharedRequest(plan), again, {plan.keptDays, plan.terminal, false}, true);
  std::vector<double> one(terminalDays * kPathCount);
  return queue.completeNext(
      distribution,
      [&](const TrajectoryPrices& prices) {
        const std::size_t width = prices.keptDays * kPathCount;
        for (std::int64_t t = 0; t < prices.count; ++t) {
          const double* back = prices.readBack + static_cast<std::size_t>(t) * width;
          for (std::size_t d = 0; d < prices.keptDays; ++d) {
            if (!plan.terminal[d]) continue;
            std::copy(back + d * kPathCount, back + (d + 1) * kPathCount,
                      &one[terminalSlot[d] * kPathCount]);
          }
          count(one.data());
        }
      },
      watch.progress);
}

}  // namespace

Status completeGroup(ValuationQueue& queue, DistributionCache& distribution,
                     const char* distributionFile, const GroupPlan& plan,
                     const FigureChoice& choice, std::vector<RowFigures>& values,
                     const CompletionWatch& watch, SampleMeasure* measure) {
  if (Status loaded = distribution.refresh(distributionFile); !loaded.ok()) return loaded;
  ScratchFile scratch(plan, watch);
  if (scratch.missing(plan)) return openFailure(plan.temporaryFile);
  GroupPricers group = pricersOf(plan, choice, distribution.current()->draws);
  std::vector<double> kept;  // trajectory by trajectory, the terminal days' read-back prices
  const bool calibrated = !plan.calibration.empty();
  std::vector<double> stored;  // with a calibration: every trajectory's kept prices
  if (calibrated) {
    stored.reserve(static_cast<std::size_t>(std::max<std::int32_t>(0, plan.common.trajectories)) *
                   plan.keptDays.size() * kPathCount);
  }
  if (!addTrajectories(queue, distribution, plan, group, kept, scratch, watch,
                       calibrated ? &stored : nullptr)) {
    return stoppedFailure();
  }
  std::vector<double> weights;  // by trajectory and path, with a calibration
  SampleMeasure sample;
  if (calibrated) {
    // The measure's sweeps hear a stop, told that the trajectories are all in.
    const WorkWatch sweeps(watch.progress);
    sweeps.done(1.0);
    weights = weightTrajectories(plan, group, stored, sample, sweeps);
    if (sweeps.stopped()) return stoppedFailure();
    if (measure != nullptr) *measure = sample;
  }

  // The figures of each row, by the rules of a single valuation of its days.
  values.assign(plan.rows.size(), RowFigures{});
  for (std::size_t r = 0; r < plan.rows.size(); ++r) {
    const ValuationRequest request = requestOfRow(plan, r);
    values[r] = formValues(request, expectationsOf(plan, group, r), choice);
    if (choice.standardErrors) {
      values[r].errors = group.pricers[r].standardErrors(discountOf(request));
    }
  }
  if (Status closed = scratch.close(); !closed.ok()) return closed;
  if (!winsOf(plan)) return {};

  // The winning probabilities, against each row's own values, and the probabilities of profit
  // at each row's quote, on the read-back terminal prices of the same trajectories.
  for (std::size_t r = 0; r < plan.rows.size(); ++r) {
    group.pricers[r].startWins(
        winThresholds(requestOfRow(plan, r), values[r].result, plan.rows[r].quote));
  }
  if (!countWins(queue, distribution, plan, group, kept, watch, weights)) return stoppedFailure();
  const double total = static_cast<double>(plan.common.trajectories);
  for (std::size_t r = 0; r < plan.rows.size(); ++r) {
    formWins(requestOfRow(plan, r), plan.rows[r].quote, group.pricers[r].wins(), total,
             values[r]);
  }
  // Without the probabilities the empty file stays, as in any valuation.
  scratch.removeRows();
  return {};
}

}  // namespace empricer
