#include "app/stop_signals.h"

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
static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
static_assert(std::atomic<const char*>::is_always_lock_free);

void onStopSignal(int signal) {
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

void noteTemporaryFile(std::FILE* stream) {
  struct stat status;
  if (stream == nullptr || ::fstat(::fileno(stream), &status) != 0 || !S_ISREG(status.st_mode)) {
    return;
  }
  temporaryDevice.store(static_cast<std::uint64_t>(status.st_dev));
  temporaryInode.store(static_cast<std::uint64_t>(status.st_ino));
  temporaryNoted.store(true);
}

void forgetTemporaryFile() { temporaryNoted.store(false); }

}  // namespace empricer
