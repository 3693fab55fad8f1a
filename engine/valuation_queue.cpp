#include "engine/valuation_queue.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "engine/winning_probabilities.h"
#include "text/output_file.h"

namespace {

// The rate enters the shifted paths' growth per step scaled by 0.01, and the discount without
// it. The two are not meant to agree; "fixing" either changes every shifted value.
constexpr double kRateScale = 0.01;
// The base of the discount power is this truncated literal, not e: std::exp(x) and
// std::pow(2.718281828459, x) differ in the last bits, and the results with them.
constexpr double kDiscountBase = 2.718281828459;

// A chunk is about this many steps (trajectories x days x 270): long enough that handing it
// to a worker costs little, short enough to spread one valuation over every thread.
constexpr std::int64_t kChunkSteps = std::int64_t{1} << 21;
// Chunks handed to the workers ahead of the one being added up, per thread.
constexpr int kChunksAheadPerThread = 4;
// Valuations handed in ahead, at most, per chunk handed to the workers ahead.
constexpr std::size_t kValuationsPerChunkAhead = 4;
// The temporary file is written through a buffer of this size.
constexpr std::size_t kTemporaryBuffer = std::size_t{1} << 20;

// Each path's call and put payoffs, trajectory by trajectory, as running means and sums of
// squared deviations (Welford's method: no cancellation, and the same bits for any number of
// threads, since the trajectories come in order).
class PayoffSpread {
 public:
  // One trajectory's terminal prices, paid out as collectPayoffs does.
  void add(const double* price, double strike) {
    double call[kPathCount];
    double put[kPathCount];
    for (int p = 0; p < kPathCount; ++p) {
      const bool above = price[p] > strike;
      call[p] = above ? price[p] - strike : 0.0;
      put[p] = above ? 0.0 : strike - price[p];
    }
    addPayoffs(call, put);
  }
  void addPayoffs(const double* call, const double* put) {
    count_ += 1.0;
    for (int p = 0; p < kPathCount; ++p) {
      addTo(0, p, call[p]);
      addTo(1, p, put[p]);
    }
  }
  // The standard errors of the values discounted by `d`.
  void finish(double d, StandardErrors& errors) const {
    for (int p = 0; p < kPathCount; ++p) {
      errors.call[p] = standardError(0, p, d);
      errors.put[p] = standardError(1, p, d);
    }
  }

 private:
  void addTo(int kind, int p, double x) {
    const double delta = x - mean_[kind][p];
    mean_[kind][p] += delta / count_;
    squares_[kind][p] += delta * (x - mean_[kind][p]);
  }
  double standardError(int kind, int p, double d) const {
    if (count_ < 2.0) return std::numeric_limits<double>::quiet_NaN();
    return d * std::sqrt(squares_[kind][p] / (count_ - 1.0)) / std::sqrt(count_);
  }
  double count_ = 0.0;
  double mean_[2][kPathCount] = {};
  double squares_[2][kPathCount] = {};
};

}  // namespace

std::uint64_t drawsOfValuation(const ValuationRequest& request) {
  if (request.trajectories < 1 || request.days < 1) return 0;
  return static_cast<std::uint64_t>(request.trajectories) *
         static_cast<std::uint64_t>(request.days) * kStepsPerDay;
}

// Trajectories [first, first + count) of a valuation, simulated by a worker: the prices at
// the end and one day before it, and the temporary file's lines when the probabilities are
// on.
struct ValuationQueue::Chunk {
  Chunk(const Entry& entry, std::int64_t firstTrajectory, std::int64_t trajectories)
      : first(firstTrajectory), count(trajectories), task([this, &entry] { simulateChunk(entry, *this); }) {}
  std::int64_t first;
  std::int64_t count;
  std::vector<double> terminal;   // count x kPathCount, trajectory by trajectory
  std::vector<double> dayBefore;  // the same, when days >= 2
  std::string rows;
  std::atomic<bool> cancel{false};
  bool submitted = false;
  PoolTask task;
};

struct ValuationQueue::Entry {
  ValuationRequest request;
  std::uint32_t firstState;
  SimulationSetup setup;
  std::shared_ptr<const LoadedDistribution> distribution;  // what the chunks simulate with
  std::uint64_t version = 0;
  LockstepPlan plan;
  std::int64_t chunkTrajectories = 0;
  std::vector<std::unique_ptr<Chunk>> chunks;  // created when the distribution is known
  std::size_t nextToSubmit = 0;
  std::size_t nextToAdd = 0;
};

ValuationQueue::ValuationQueue(int threads, SimulationChoice choice)
    : choice_(choice),
      window_(std::max(1, threads) * kChunksAheadPerThread),
      pool_(threads) {}

ValuationQueue::~ValuationQueue() {
  for (auto& entry : entries_) {
    for (auto& chunk : entry->chunks) chunk->cancel.store(true, std::memory_order_relaxed);
  }
  for (auto& entry : entries_) {
    for (auto& chunk : entry->chunks) {
      if (chunk->submitted) pool_.withdraw(chunk->task);
    }
  }
}

bool ValuationQueue::wantsMore() const {
  // Valuations without chunks (no trajectory or no step) hold no work, but still room.
  if (entries_.size() >= static_cast<std::size_t>(window_) * kValuationsPerChunkAhead) return false;
  if (cache_.current() == nullptr) return entries_.empty();
  std::size_t waiting = 0;
  for (const auto& entry : entries_) waiting += entry->chunks.size() - entry->nextToSubmit;
  return inFlight_ + static_cast<int>(waiting) < window_;
}

void ValuationQueue::enqueue(const ValuationRequest& request, std::uint32_t firstState) {
  auto entry = std::make_unique<Entry>();
  entry->request = request;
  entry->firstState = firstState;
  SimulationSetup& setup = entry->setup;
  for (int p = 0; p < kPathCount; ++p) setup.start[p] = startPriceOfPath(request, p);
  setup.strike = request.strike;
  // (rate x stepFraction) x 0.01 + 1, in this order.
  setup.growth = request.riskFreeRate * request.stepFraction * kRateScale + 1.0;
  setup.days = request.days;
  setup.trajectories = request.trajectories;
  setup.terminalRows = nullptr;
  entries_.push_back(std::move(entry));
  if (cache_.current() != nullptr) {
    prepare(*entries_.back());
    submitMore();
  }
}

// Cuts the valuation into chunks for the distribution as last read.
void ValuationQueue::prepare(Entry& entry) {
  entry.chunks.clear();
  entry.nextToSubmit = entry.nextToAdd = 0;
  entry.distribution = cache_.current();
  entry.version = cache_.version();
  const std::int64_t trajectories = entry.request.trajectories;
  entry.setup.draws = &entry.distribution->draws;
  if (trajectories < 1 || entry.request.days < 1 || choice_.oneByOne) return;
  entry.plan =
      planLockstep(entry.setup, entry.distribution->range, choice_.path, choice_.lanes);
  const std::int64_t stepsPerTrajectory = std::int64_t{entry.request.days} * kStepsPerDay;
  const std::int64_t lanes = entry.plan.lanes;
  std::int64_t size = std::max<std::int64_t>(1, kChunkSteps / stepsPerTrajectory);
  size = (size + lanes - 1) / lanes * lanes;
  entry.chunkTrajectories = size;
  for (std::int64_t first = 0; first < trajectories; first += size) {
    entry.chunks.push_back(
        std::make_unique<Chunk>(entry, first, std::min(size, trajectories - first)));
  }
}

void ValuationQueue::simulateChunk(const Entry& entry, Chunk& chunk) {
  const std::size_t count = static_cast<std::size_t>(chunk.count);
  const bool withDayBefore = entry.request.days >= 2;
  chunk.terminal.resize(count * kPathCount);
  if (withDayBefore) chunk.dayBefore.resize(count * kPathCount);
  chunk.rows.clear();
  const std::uint32_t firstState = applyJump(
      randomJump(static_cast<std::uint64_t>(chunk.first) *
                 static_cast<std::uint64_t>(entry.request.days) * kStepsPerDay),
      entry.firstState);
  std::size_t t = 0;
  runLockstepBlocks(entry.plan, firstState, chunk.count, &chunk.cancel,
                    [&](const LockstepBlock& block, int used) {
                      for (int l = 0; l < used; ++l, ++t) {
                        for (int p = 0; p < kPathCount; ++p) {
                          chunk.terminal[t * kPathCount + static_cast<std::size_t>(p)] =
                              block.terminal[p][l];
                          if (withDayBefore) {
                            chunk.dayBefore[t * kPathCount + static_cast<std::size_t>(p)] =
                                block.dayBefore[p][l];
                          }
                        }
                        if (entry.request.withProbabilities) {
                          appendTerminalText(chunk.rows, &chunk.terminal[t * kPathCount]);
                        }
                      }
                    });
}

void ValuationQueue::submitMore() {
  for (auto& entry : entries_) {
    if (inFlight_ >= window_) return;
    if (entry->distribution == nullptr) return;  // nothing to simulate with yet
    while (entry->nextToSubmit < entry->chunks.size() && inFlight_ < window_) {
      Chunk& chunk = *entry->chunks[entry->nextToSubmit++];
      chunk.submitted = true;
      pool_.submit(chunk.task);
      ++inFlight_;
    }
  }
}

// The distribution changed: every chunk handed out so far simulated the old one.
void ValuationQueue::restartAll() {
  for (auto& entry : entries_) {
    for (auto& chunk : entry->chunks) chunk->cancel.store(true, std::memory_order_relaxed);
  }
  for (auto& entry : entries_) {
    for (std::size_t i = entry->nextToAdd; i < entry->nextToSubmit; ++i) {
      pool_.withdraw(entry->chunks[i]->task);
      --inFlight_;
    }
    prepare(*entry);
  }
  submitMore();
}

Status ValuationQueue::completeNext(ValuationResult& result, const ValuationFiles& files,
                                    const CompletionHooks& hooks) {
  Entry& entry = *entries_.front();
  if (Status loaded = cache_.refresh(files.distribution); !loaded.ok()) return loaded;
  if (entry.distribution == nullptr || entry.version != cache_.version()) restartAll();

  const ValuationRequest& request = entry.request;
  // The temporary file is created (or emptied) in every valuation, with the probabilities off
  // too: an empty file is left behind then, which users' scripts may look for.
  std::FILE* temporary = openForWriting(files.temporary);
  if (temporary == nullptr && request.withProbabilities) return openFailure(files.temporary);
  std::FILE* rows = request.withProbabilities ? temporary : nullptr;
  if (rows != nullptr) std::setvbuf(rows, nullptr, _IOFBF, kTemporaryBuffer);

  SimulationSums sums{};
  PayoffSpread spread;
  const bool withSpread = hooks.standardErrors != nullptr;
  const SimulationSetup& setup = entry.setup;
  if (choice_.oneByOne) {
    SimulationSetup reference = setup;
    reference.terminalRows = rows;
    RandomGenerator generator{entry.firstState};
    simulateOneByOne(reference, sums, generator);
    if (withSpread) {
      // The payoffs of each trajectory on its own, from the same draws.
      reference.terminalRows = nullptr;
      reference.trajectories = 1;
      RandomGenerator again{entry.firstState};
      for (std::int32_t t = 0; t < request.trajectories; ++t) {
        SimulationSums one{};
        simulateOneByOne(reference, one, again);
        spread.addPayoffs(one.call, one.put);
      }
    }
  } else if (request.trajectories >= 1 && request.days < 1) {
    // No step runs and no draw is taken: every trajectory ends where it starts.
    std::string row;
    if (rows != nullptr) appendTerminalText(row, setup.start);
    for (std::int64_t t = 0; t < request.trajectories; ++t) {
      if (rows != nullptr) std::fwrite(row.data(), 1, row.size(), rows);
      collectPayoffs(setup.start, setup.strike, sums.call, sums.put);
      sums.sumPrices += setup.start[kBasePath];
      sums.sumSquares += setup.start[kBasePath] * setup.start[kBasePath];
      if (withSpread) spread.add(setup.start, setup.strike);
    }
  }
  const bool withDayBefore = request.days >= 2;
  while (entry.nextToAdd < entry.chunks.size()) {
    Chunk& chunk = *entry.chunks[entry.nextToAdd];
    if (!chunk.submitted) {
      chunk.submitted = true;
      pool_.submit(chunk.task);
      ++inFlight_;
      ++entry.nextToSubmit;
    }
    if (hooks.progress) {
      const double share = static_cast<double>(chunk.first) / request.trajectories;
      while (!pool_.waitFor(chunk.task, 0.1)) hooks.progress(share);
      hooks.progress(share);
    } else {
      pool_.wait(chunk.task);
    }
    for (std::int64_t t = 0; t < chunk.count; ++t) {
      const double* price = &chunk.terminal[static_cast<std::size_t>(t) * kPathCount];
      if (withDayBefore) {
        collectPayoffs(&chunk.dayBefore[static_cast<std::size_t>(t) * kPathCount], setup.strike,
                       sums.dayBeforeCall, sums.dayBeforePut);
      }
      collectPayoffs(price, setup.strike, sums.call, sums.put);
      sums.sumPrices += price[kBasePath];
      sums.sumSquares += price[kBasePath] * price[kBasePath];
      if (withSpread) spread.add(price, setup.strike);
    }
    if (rows != nullptr) std::fwrite(chunk.rows.data(), 1, chunk.rows.size(), rows);
    ++entry.nextToAdd;
    --inFlight_;
    // The chunk's memory goes now; the entry keeps the empty record.
    chunk.terminal = {};
    chunk.dayBefore = {};
    chunk.rows = {};
    submitMore();
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
  if (withSpread) spread.finish(d, *hooks.standardErrors);
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
  const ValuationRequest finished = request;
  entries_.pop_front();
  submitMore();
  if (!finished.withProbabilities) return {};
  return computeWinningProbabilities(finished, result, files.temporary, !files.keepTemporary);
}
