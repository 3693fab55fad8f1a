// One run per folder: a run holds an advisory lock (flock) on its working folder itself from
// its start to its end, so that two runs never write the same files at once. No file is made
// for it, and the lock goes with the process, however it ends.
#pragma once

#include "text/status.h"

namespace empricer {

// What asking for an exclusive lock without waiting gave.
enum class LockTry {
  taken,       // this open file now holds it
  held,        // another open file holds it
  unsupported  // the file system keeps no such locks
};

// Asks for an exclusive advisory lock (flock) on the open file `fd`, without waiting.
LockTry lockExclusively(int fd);

class FolderLock {
 public:
  FolderLock() = default;
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  // Takes the lock of the working folder without waiting. Fails, with the message the run
  // stops with, when another run holds it. A folder whose file system keeps no such locks (or
  // that cannot be opened) is run in unlocked, as before.
  Status acquire();

 private:
  int fd_ = -1;
};

}  // namespace empricer
