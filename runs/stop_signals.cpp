#include "runs/stop_signals.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

namespace empricer {

namespace {

// What the handler reads: written before the handlers are installed or by the thread that
// completes valuations, read in the handler. Lock-free atomics are safe to read there.
std::atomic<const char*> temporaryPath{nullptr};
std::atomic<bool> temporaryNoted{false};
std::atomic<std::uint64_t> temporaryDevice{0};
std::atomic<std::uint64_t> temporaryInode{0};
// While the file is being opened: kOpening, or the number of a signal that came meanwhile and
// is acted on once the file is noted.
constexpr int kNotOpening = 0;
constexpr int kOpening = -1;
std::atomic<int> openingState{kNotOpening};
static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
static_assert(std::atomic<const char*>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

void stopNow(int signal) {
  const char* path = temporaryPath.load();
  if (path != nullptr && temporaryNoted.load()) {
    struct stat status;
    if (::lstat(path, &status) == 0 && S_ISREG(status.st_mode) &&
        static_cast<std::uint64_t>(status.st_dev) == temporaryDevice.load() &&
        static_cast<std::uint64_t>(status.st_ino) == temporaryInode.load()) {
      ::unlink(path);
    }
  }
  // Ended as the signal ends a program that does not catch it.
  struct sigaction plain {};
  plain.sa_handler = SIG_DFL;
  sigemptyset(&plain.sa_mask);
  ::sigaction(signal, &plain, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signal);
}

void onStopSignal(int signal) {
  int opening = kOpening;
  if (openingState.compare_exchange_strong(opening, signal)) return;
  stopNow(signal);
}

}  // namespace

void watchStopSignals(const char* path) {
  temporaryPath.store(path);
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  for (int signal : {SIGINT, SIGTERM}) {
    struct sigaction before {};
    ::sigaction(signal, nullptr, &before);
    // A signal that the run was started to ignore (nohup, a background job) stays ignored.
    if (before.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

void openingTemporaryFile() { openingState.store(kOpening); }

void noteTemporaryFile(std::FILE* stream) {
  struct stat status;
  if (stream != nullptr && ::fstat(::fileno(stream), &status) == 0 && S_ISREG(status.st_mode)) {
    temporaryDevice.store(static_cast<std::uint64_t>(status.st_dev));
    temporaryInode.store(static_cast<std::uint64_t>(status.st_ino));
    temporaryNoted.store(true);
  }
  const int waiting = openingState.exchange(kNotOpening);
  if (waiting > 0) stopNow(waiting);
}

void forgetTemporaryFile() { temporaryNoted.store(false); }

}  // namespace empricer
