// Valuations in order, simulated on every thread of a worker pool. Each valuation is cut into
// chunks of trajectories; the workers simulate chunks ahead, several valuations at once when
// they are small, and the calling thread completes the valuations one after another in the
// order they were handed in: it reads the distribution file, adds every sum in trajectory
// order, writes and reads back the temporary file, and fills the result. The results, the
// temporary file and the generator states are the same bytes for any number of threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/distribution_cache.h"
#include "engine/lockstep_simulation.h"
#include "engine/outcome.h"
#include "engine/payoff_spread.h"
#include "engine/records.h"
#include "engine/worker_pool.h"

// The files a valuation uses; the caller names them.
struct ValuationFiles {
  const char* distribution;  // read at the start of every valuation
  const char* temporary;     // the terminal prices for the winning probabilities
  // Leave the temporary file in place after the probabilities are read back from it, for a
  // caller that wants to look at it; the program always removes it.
  bool keepTemporary = false;
};

// How a queue simulates: side by side on a lockstep path, or one trajectory after another on
// the calling thread (the reference that the lockstep paths are checked against).
struct SimulationChoice {
  LockstepPath path = bestLockstepPath();
  int lanes = 0;  // the path's default width
  bool oneByOne = false;
};

// What completeNext does besides the valuation itself.
struct CompletionHooks {
  StandardErrors* standardErrors = nullptr;  // filled when given
  // Called now and then while the valuation's trajectories are added up, with the share of
  // them done so far.
  std::function<void(double share)> progress;
};

// The draws a valuation takes from the generator: trajectories x 270 x days, or none when it
// runs no step.
std::uint64_t drawsOfValuation(const ValuationRequest& request);

class ValuationQueue {
 public:
  // `threads` counts the calling thread (see WorkerPool).
  ValuationQueue(int threads, SimulationChoice choice);
  ~ValuationQueue();
  ValuationQueue(const ValuationQueue&) = delete;
  ValuationQueue& operator=(const ValuationQueue&) = delete;

  // Hands in a valuation whose first draw follows generator state `firstState`. The workers
  // may start on it at once, with the distribution as last read; completeNext() checks that
  // the file still holds it.
  void enqueue(const ValuationRequest& request, std::uint32_t firstState);
  // Valuations handed in and not completed.
  std::size_t size() const { return entries_.size(); }
  // Whether the workers would be kept busier by more valuations handed in ahead.
  bool wantsMore() const;

  // Completes the oldest valuation: reads the distribution file (redoing the simulation when
  // the file changed since the work began), creates the temporary file, adds up the sums in
  // trajectory order, fills `result`, and with the probabilities on writes, reads back and
  // removes the temporary file. Fails, with the message the program stops with, when the
  // distribution does not load or the temporary file cannot be made or read back while the
  // probabilities are on; the valuation stays queued then.
  Status completeNext(ValuationResult& result, const ValuationFiles& files,
                      const CompletionHooks& hooks = {});


 private:
  struct Chunk;
  struct Entry;

  void prepare(Entry& entry);
  void restartAll();
  void submitMore();
  static void simulateChunk(const Entry& entry, Chunk& chunk);

  SimulationChoice choice_;
  DistributionCache cache_;
  std::deque<std::unique_ptr<Entry>> entries_;
  int inFlight_ = 0;  // chunks handed to the pool and not yet added up
  int window_;        // at most this many
  WorkerPool pool_;   // last, so that the workers stop before the chunks go
};
