// A fixed set of worker threads, started once and reused for every task of a run. Tasks are
// taken in the order they were handed in. The thread that hands them in counts as one of the
// pool's threads: when it waits for a task that no worker has started, it runs the task
// itself, so a pool of one thread runs everything in the caller, in order, with no worker.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "text/status.h"

namespace empricer {

class WorkerPool;

// One piece of work. Its owner keeps it alive and in place from submit() until wait() has
// returned (or until the pool is gone).
class PoolTask {
 public:
  explicit PoolTask(std::function<void()> work) : work_(std::move(work)) {}
  PoolTask(const PoolTask&) = delete;
  PoolTask& operator=(const PoolTask&) = delete;

 private:
  friend class WorkerPool;
  enum class State { Idle, Queued, Running, Done };
  std::function<void()> work_;
  State state_ = State::Idle;
};

class WorkerPool {
 public:
  // `threads` counts the caller: threads - 1 workers are started (none for 1 or less). A
  // worker that cannot start ends the starting: started() tells, and the pool works on with
  // the workers that did start.
  explicit WorkerPool(int threads);
  // Waits for the tasks that are running, drops those still queued, and joins the workers.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  int threadCount() const { return static_cast<int>(workers_.size()) + 1; }
  // Whether every worker started; otherwise "empricer: cannot start thread N of THREADS: "
  // and the system's reason.
  Status started() const { return started_; }

  // Queues the task (which must not be queued or running already).
  void submit(PoolTask& task);
  // Returns once the task has run: runs it here when no worker has taken it; while a worker
  // runs it, runs other queued tasks here meanwhile.
  void wait(PoolTask& task);
  // Like wait(), but gives up once `seconds` have passed (a task begun here runs to its end);
  // true when the task is done.
  bool waitFor(PoolTask& task, double seconds);
  // Takes a queued task back without running it; waits for it when it is running.
  void withdraw(PoolTask& task);

 private:
  void workerLoop();
  void runHere(PoolTask& task, std::unique_lock<std::mutex>& lock);

  std::mutex mutex_;
  std::condition_variable workAvailable_;
  std::condition_variable taskDone_;
  std::deque<PoolTask*> queue_;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
  Status started_;
};

}  // namespace empricer
