#include "engine/valuation_queue.h"

#include <algorithm>
#include <cstdio>

#include "engine/payoff_spread.h"
#include "engine/valuation_figures.h"
#include "engine/winning_probabilities.h"
#include "text/output_file.h"

namespace {

// A chunk is about this many steps (trajectories x days x 270): long enough that handing it
// to a worker costs little, short enough to spread one valuation over every thread.
constexpr std::int64_t kChunkSteps = std::int64_t{1} << 21;
// Chunks handed to the workers ahead of the one being added up, per thread.
constexpr int kChunksAheadPerThread = 4;
// Valuations handed in ahead, at most, per chunk handed to the workers ahead.
constexpr std::size_t kValuationsPerChunkAhead = 4;
// The temporary file is written through a buffer of this size.
constexpr std::size_t kTemporaryBuffer = std::size_t{1} << 20;

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
      : first(firstTrajectory),
        count(trajectories),
        task([this, &entry] { simulateChunk(entry, *this); }) {}
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
  setup.growth = growthPerStep(request);
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

  fillFigures(request, sums, result);
  if (withSpread) spread.finish(discountOf(request), *hooks.standardErrors);

  if (temporary != nullptr) std::fclose(temporary);
  const ValuationRequest finished = request;
  entries_.pop_front();
  submitMore();
  if (!finished.withProbabilities) return {};
  return computeWinningProbabilities(finished, result, files.temporary, !files.keepTemporary);
}
