#include "engine/worker_pool.h"

#include <algorithm>
#include <chrono>

namespace empricer {

WorkerPool::WorkerPool(int threads) {
  const int workers = threads > 1 ? threads - 1 : 0;
  workers_.reserve(static_cast<std::size_t>(workers));
  for (int i = 0; i < workers; ++i) workers_.emplace_back([this] { workerLoop(); });
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
