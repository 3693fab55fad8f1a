// Valuations in order, simulated on every thread of a worker pool. Each valuation is cut into
// chunks of trajectories; the workers simulate chunks ahead, several valuations at once when
// they are small, and the calling thread completes the valuations one after another in the
// order they were handed in, taking each chunk's prices in trajectory order. The prices, and
// so everything added up from them, are the same bytes for any number of threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/table/distribution_cache.h"
#include "engine/simulation/lockstep_simulation.h"
#include "engine/table/random_generator.h"
#include "engine/valuation/records.h"
#include "engine/simulation/worker_pool.h"

namespace empricer {

// Which kernel the queue's chunks run on, and how wide (0: the path's default width).
struct SimulationChoice {
  KernelKind kernel = bestKernel();
  int lanes = 0;
};

// The draws a valuation takes from the generator: trajectories x 270 x days, or none when it
// runs no step.
std::uint64_t drawsOfValuation(const ValuationRequest& request);

// Which prices the workers keep of each trajectory of a valuation.
struct KeptPrices {
  // After which days (ascending, from 0 for the start to the valuation's days); empty: those
  // of valuationKeptDays, the day before the last (when days >= 2) and the last.
  std::vector<std::int32_t> days;
  // Which of them (by index into `days`; empty: none) are also wanted as they read back from
  // their six-digit number text.
  std::vector<bool> readBack;
  // The temporary file's lines of the terminal prices (those after the last day).
  bool terminalRows = false;
};

// A run of consecutive trajectories of a valuation, as the workers simulated them.
struct TrajectoryPrices {
  std::int64_t count;
  std::size_t keptDays;    // prices kept per trajectory, in kPathCount groups
  const double* prices;    // count x keptDays x kPathCount: trajectory, kept day, path
  const double* readBack;  // the same as read back from text (where asked for), or nullptr
  // With KeptPrices::terminalRows, the temporary file's lines of these trajectories' terminal
  // prices; empty otherwise.
  std::string_view rows;
};

class ValuationQueue {
 public:
  // `threads` counts the calling thread (see WorkerPool).
  ValuationQueue(int threads, SimulationChoice choice);
  ~ValuationQueue();
  ValuationQueue(const ValuationQueue&) = delete;
  ValuationQueue& operator=(const ValuationQueue&) = delete;

  // Hands in a valuation whose first draw follows the generator's state, and moves the
  // generator past its draws. The workers may start on it at once, with the table of the
  // distribution that the last completion used. With `first`, it goes before the valuations
  // handed in earlier and is the next to be completed.
  void enqueue(const ValuationRequest& request, RandomGenerator& generator, KeptPrices kept = {},
               bool first = false);
  // Whether every thread of the pool started (see WorkerPool::started); a queue whose pool
  // lacks some still values, on fewer threads.
  Status started() const { return pool_.started(); }

  // Valuations handed in and not completed.
  std::size_t size() const { return entries_.size(); }
  // The oldest of them.
  const ValuationRequest& front() const;
  // Whether the workers would be kept busier by more valuations handed in ahead.
  bool wantsMore() const;

  // Completes the oldest valuation on `distribution`'s current table (work that began on
  // another table is done again): hands its trajectories to `consume` in trajectory order,
  // calling `progress` (when set) now and then (every 20 ms while a worker simulates) with
  // the share of them done so far. The queue keeps simulating ahead with `distribution`,
  // which must outlive it or the next completion.
  // False when `progress` answered false: the valuation was left part taken, and the queue
  // is fit only to be destroyed.
  bool completeNext(const DistributionCache& distribution,
                    const std::function<void(const TrajectoryPrices&)>& consume,
                    const std::function<bool(double share)>& progress = {});

 private:
  struct Chunk;
  struct Entry;

  void prepare(Entry& entry);
  void restartAll();
  void submit(Entry& entry, Chunk& chunk);
  void submitMore();
  static void simulateChunk(const Entry& entry, Chunk& chunk);

  SimulationChoice choice_;
  const DistributionCache* distribution_ = nullptr;  // of the last completion
  std::deque<std::unique_ptr<Entry>> entries_;
  int inFlight_ = 0;  // chunks handed to the pool and not yet taken
  int window_;        // at most this many
  WorkerPool pool_;   // last, so that the workers stop before the chunks go
};

}  // namespace empricer
