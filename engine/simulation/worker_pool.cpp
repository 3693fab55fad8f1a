#include "engine/simulation/worker_pool.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <string>
#include <system_error>

namespace empricer {

WorkerPool::WorkerPool(int threads) {
  const int workers = threads > 1 ? threads - 1 : 0;
  workers_.reserve(static_cast<std::size_t>(workers));
  std::error_code failed;
  for (int i = 0; i < workers && !failed; ++i) {
    try {
      workers_.emplace_back([this] { workerLoop(); });
    } catch (const std::system_error& error) {
      failed = error.code();
    } catch (const std::bad_alloc&) {
      failed = std::make_error_code(std::errc::not_enough_memory);
    }
  }
  if (failed) {
    // The calling thread is thread 1; the one that failed follows those that started.
    started_ = Failure{"empricer: cannot start thread " + std::to_string(workers_.size() + 2) +
                       " of " + std::to_string(threads) + ": " + failed.message()};
  }
}

WorkerPool::~WorkerPool() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    stopping_ = true;
    for (PoolTask* task : queue_) task->state_ = PoolTask::State::Idle;
    queue_.clear();
  }
  workAvailable_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void WorkerPool::submit(PoolTask& task) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    task.state_ = PoolTask::State::Queued;
    queue_.push_back(&task);
  }
  workAvailable_.notify_one();
}

void WorkerPool::runHere(PoolTask& task, std::unique_lock<std::mutex>& lock) {
  task.state_ = PoolTask::State::Running;
  lock.unlock();
  task.work_();
  lock.lock();
  task.state_ = PoolTask::State::Done;
  taskDone_.notify_all();
}

void WorkerPool::wait(PoolTask& task) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (task.state_ == PoolTask::State::Queued) {
    queue_.erase(std::find(queue_.begin(), queue_.end(), &task));
    runHere(task, lock);
    return;
  }
  // While a worker runs it, the caller takes on the next queued task rather than sit idle.
  while (task.state_ == PoolTask::State::Running) {
    if (queue_.empty()) {
      taskDone_.wait(lock);
      continue;
    }
    PoolTask* next = queue_.front();
    queue_.pop_front();
    runHere(*next, lock);
  }
}

bool WorkerPool::waitFor(PoolTask& task, double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  std::unique_lock<std::mutex> lock(mutex_);
  if (task.state_ == PoolTask::State::Queued) {
    queue_.erase(std::find(queue_.begin(), queue_.end(), &task));
    runHere(task, lock);
    return true;
  }
  while (task.state_ == PoolTask::State::Running) {
    if (std::chrono::steady_clock::now() >= until) return false;
    if (queue_.empty()) {
      taskDone_.wait_until(lock, until);
      continue;
    }
    PoolTask* next = queue_.front();
    queue_.pop_front();
    runHere(*next, lock);
  }
  return true;
}

void WorkerPool::withdraw(PoolTask& task) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (task.state_ == PoolTask::State::Queued) {
    queue_.erase(std::find(queue_.begin(), queue_.end(), &task));
    task.state_ = PoolTask::State::Idle;
    return;
  }
  taskDone_.wait(lock, [&] { return task.state_ != PoolTask::State::Running; });
}

void WorkerPool::workerLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    workAvailable_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    PoolTask* task = queue_.front();
    queue_.pop_front();
    runHere(*task, lock);
  }
}

}  // namespace empricer
