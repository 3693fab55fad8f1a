// Who watches a long piece of work: told the share done, asked whether the work goes on.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace empricer {

// `listen` hears the share done and answers whether to go on. It is called only on the thread
// that made the watch (the caller's, where a signal can be looked for); threads working for
// that caller see the answer once it is no. A watch without `listen` never stops.
class WorkWatch {
 public:
  WorkWatch() = default;
  explicit WorkWatch(std::function<bool(double share)> listen) : listen_(std::move(listen)) {}
  WorkWatch(const WorkWatch&) = delete;
  WorkWatch& operator=(const WorkWatch&) = delete;

  // The share done so far (0 to 1); heard at the next question.
  void done(double share) const {
    if (std::this_thread::get_id() == caller_) share_ = share;
    goOn();
  }
  // Whether the work goes on: cheap enough to ask between any two steps of it.
  bool goOn() const {
    if (stopped_.load(std::memory_order_relaxed)) return false;
    if (!listen_ || std::this_thread::get_id() != caller_) return true;
    if (listen_(share_)) return true;
    stopped_.store(true, std::memory_order_relaxed);
    return false;
  }
  bool stopped() const { return stopped_.load(std::memory_order_relaxed); }

 private:
  std::function<bool(double)> listen_;
  std::thread::id caller_ = std::this_thread::get_id();
  mutable double share_ = 0.0;
  mutable std::atomic<bool> stopped_{false};
};

}  // namespace empricer
