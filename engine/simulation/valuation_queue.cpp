#include "engine/simulation/valuation_queue.h"

#include <algorithm>

#include "engine/simulation/path_simulation.h"
#include "engine/table/random_jump.h"
#include "engine/valuation/terminal_text.h"
#include "engine/desk/valuation_figures.h"

namespace empricer {

namespace {

// A chunk is about this many steps (trajectories x days x steps a day): long enough that handing it
// to a worker costs little, short enough to spread one valuation over every thread.
constexpr std::int64_t kChunkSteps = std::int64_t{1} << 21;
// And at most this many trajectories, for valuations that run no step.
constexpr std::int64_t kChunkTrajectories = std::int64_t{1} << 16;
// Chunks handed to the workers ahead of the one being taken, per thread.
constexpr int kChunksAheadPerThread = 4;
// Valuations handed in ahead, at most, per chunk handed to the workers ahead.
constexpr std::size_t kValuationsPerChunkAhead = 4;
// Seconds a completion waits on a chunk that a worker simulates before it calls `progress`
// again: the caller's chance to stop the run (Python looks for Ctrl-C there). Not a bound on
// the time between two calls: a chunk the completion runs itself, or a queued chunk it runs
// while it waits, runs to its end first.
constexpr double kProgressEvery = 0.02;

}  // namespace

std::uint64_t drawsOfValuation(const ValuationRequest& request) {
  return drawsOf(request.trajectories, request.days, request.stepsPerDay);
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
  std::vector<double> prices;    // count x kept days x kPathCount
  std::vector<double> readBack;  // the same read back from text, when asked for
  std::string rows;
  std::atomic<bool> cancel{false};
  bool submitted = false;
  PoolTask task;
};

struct ValuationQueue::Entry {
  ValuationRequest request;
  KeptPrices kept;
  std::uint32_t firstState;
  SimulationSetup setup;
  std::shared_ptr<const LoadedDistribution> distribution;  // what the chunks simulate with
  std::uint64_t version = 0;
  LockstepPlan plan;
  std::vector<std::unique_ptr<Chunk>> chunks;  // created when the distribution is known
  std::size_t nextToSubmit = 0;
  std::size_t nextToTake = 0;
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

const ValuationRequest& ValuationQueue::front() const { return entries_.front()->request; }

bool ValuationQueue::wantsMore() const {
  // Valuations without chunks (no trajectory) hold no work, but still room.
  if (entries_.size() >= static_cast<std::size_t>(window_) * kValuationsPerChunkAhead) return false;
  if (distribution_ == nullptr || distribution_->current() == nullptr) return entries_.empty();
  std::size_t waiting = 0;
  for (const auto& entry : entries_) waiting += entry->chunks.size() - entry->nextToSubmit;
  return inFlight_ + static_cast<int>(waiting) < window_;
}

void ValuationQueue::enqueue(const ValuationRequest& request, RandomGenerator& generator,
                             KeptPrices kept, bool first) {
  auto entry = std::make_unique<Entry>();
  entry->request = request;
  if (kept.days.empty()) kept.days = valuationKeptDays(request.days);
  entry->kept = std::move(kept);
  entry->firstState = generator.state;
  generator.state = applyJump(randomJump(drawsOfValuation(request)), generator.state);
  SimulationSetup& setup = entry->setup;
  for (int p = 0; p < kPathCount; ++p) setup.start[p] = startPriceOfPath(request, p);
  setup.strike = request.strike;
  setup.growth = growthPerStep(request);
  setup.days = request.days;
  setup.stepsPerDay = request.stepsPerDay;
  setup.trajectories = request.trajectories;
  setup.terminalRows = nullptr;
  Entry& added = *entry;
  if (first) {
    entries_.push_front(std::move(entry));
  } else {
    entries_.push_back(std::move(entry));
  }
  if (distribution_ != nullptr && distribution_->current() != nullptr) {
    prepare(added);
    submitMore();
  }
}

// Cuts the valuation into chunks for the distribution of the last completion.
void ValuationQueue::prepare(Entry& entry) {
  entry.chunks.clear();
  entry.nextToSubmit = entry.nextToTake = 0;
  entry.distribution = distribution_->current();
  entry.version = distribution_->version();
  const std::int64_t trajectories = entry.request.trajectories;
  entry.setup.draws = &entry.distribution->draws;
  if (trajectories < 1) return;
  entry.plan = planLockstep(entry.setup, entry.distribution->range, choice_.kernel,
                            choice_.lanes, entry.kept.days);
  const std::int64_t stepsPerTrajectory =
      std::int64_t{std::max(1, entry.request.days)} * entry.request.stepsPerDay;
  const std::int64_t lanes = entry.plan.lanes;
  std::int64_t size = std::clamp<std::int64_t>(kChunkSteps / stepsPerTrajectory, 1,
                                               kChunkTrajectories);
  size = (size + lanes - 1) / lanes * lanes;
  for (std::int64_t first = 0; first < trajectories; first += size) {
    entry.chunks.push_back(
        std::make_unique<Chunk>(entry, first, std::min(size, trajectories - first)));
  }
}

void ValuationQueue::simulateChunk(const Entry& entry, Chunk& chunk) {
  const std::size_t keptDays = entry.kept.days.size();
  const std::size_t perTrajectory = keptDays * kPathCount;
  const std::vector<bool>& readBack = entry.kept.readBack;
  const bool rows = entry.kept.terminalRows;
  // The terminal prices' text gives their read-back prices too, when both are wanted.
  const bool readBackFromRows = rows && !readBack.empty() && readBack[keptDays - 1];
  chunk.rows.clear();
  const std::uint32_t firstState = applyJump(
      randomJump(drawsOf(chunk.first, entry.request.days, entry.request.stepsPerDay)),
      entry.firstState);
  std::size_t at = 0;
  forEachTrajectory(entry.plan, firstState, chunk.count, &chunk.cancel,
                    [&](const double* kept) {
                      std::copy(kept, kept + perTrajectory, &chunk.prices[at]);
                      for (std::size_t r = 0; r < readBack.size(); ++r) {
                        if (!readBack[r] || (readBackFromRows && r == keptDays - 1)) continue;
                        for (std::size_t i = r * kPathCount; i < (r + 1) * kPathCount; ++i) {
                          chunk.readBack[at + i] = readBackPrice(kept[i]);
                        }
                      }
                      if (rows) {
                        const std::size_t last = perTrajectory - kPathCount;
                        appendTerminalText(chunk.rows, kept + last,
                                           readBackFromRows ? &chunk.readBack[at + last] : nullptr);
                      }
                      at += perTrajectory;
                    });
}

void ValuationQueue::submit(Entry& entry, Chunk& chunk) {
  // The chunk's memory is taken and given back on the calling thread, so that the allocator
  // hands the same memory to the chunks that follow (memory freed on another thread than the
  // one that took it is not always used again).
  const std::size_t values =
      static_cast<std::size_t>(chunk.count) * entry.kept.days.size() * kPathCount;
  chunk.prices.resize(values);
  if (!entry.kept.readBack.empty()) chunk.readBack.resize(values);
  chunk.submitted = true;
  pool_.submit(chunk.task);
  ++inFlight_;
  ++entry.nextToSubmit;
}

void ValuationQueue::submitMore() {
  for (auto& entry : entries_) {
    if (inFlight_ >= window_) return;
    if (entry->distribution == nullptr) return;  // nothing to simulate with yet
    while (entry->nextToSubmit < entry->chunks.size() && inFlight_ < window_) {
      submit(*entry, *entry->chunks[entry->nextToSubmit]);
    }
  }
}

// The distribution changed: every chunk handed out so far simulated the old one.
void ValuationQueue::restartAll() {
  for (auto& entry : entries_) {
    for (auto& chunk : entry->chunks) chunk->cancel.store(true, std::memory_order_relaxed);
  }
  for (auto& entry : entries_) {
    for (std::size_t i = entry->nextToTake; i < entry->nextToSubmit; ++i) {
      pool_.withdraw(entry->chunks[i]->task);
      --inFlight_;
    }
    prepare(*entry);
  }
  submitMore();
}

bool ValuationQueue::completeNext(const DistributionCache& distribution,
                                  const std::function<void(const TrajectoryPrices&)>& consume,
                                  const std::function<bool(double share)>& progress) {
  Entry& entry = *entries_.front();
  distribution_ = &distribution;
  if (entry.distribution == nullptr || entry.version != distribution.version()) restartAll();
  while (entry.nextToTake < entry.chunks.size()) {
    Chunk& chunk = *entry.chunks[entry.nextToTake];
    if (!chunk.submitted) submit(entry, chunk);
    if (progress) {
      const double share = static_cast<double>(chunk.first) / entry.request.trajectories;
      while (!pool_.waitFor(chunk.task, kProgressEvery)) {
        if (!progress(share)) return false;
      }
      if (!progress(share)) return false;
    } else {
      pool_.wait(chunk.task);
    }
    consume(TrajectoryPrices{chunk.count, entry.kept.days.size(), chunk.prices.data(),
                             entry.kept.readBack.empty() ? nullptr : chunk.readBack.data(),
                             chunk.rows});
    ++entry.nextToTake;
    --inFlight_;
    // The chunk's memory goes now; the entry keeps the empty record. (Assigning {} would keep
    // the capacity: a valuation would hold every chunk's prices to its end.)
    std::vector<double>().swap(chunk.prices);
    std::vector<double>().swap(chunk.readBack);
    std::string().swap(chunk.rows);
    submitMore();
  }
  entries_.pop_front();
  submitMore();
  return true;
}

}  // namespace empricer
