#include "runs/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

namespace empricer {

LockTry lockExclusively(int fd) {
  int taken;
  do {
    taken = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (taken != 0 && errno == EINTR);
  if (taken == 0) return LockTry::taken;
  return errno == EWOULDBLOCK ? LockTry::held : LockTry::unsupported;
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) ::close(fd_);  // releases the lock
}

Status FolderLock::acquire() {
  const int fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return {};
  const LockTry taken = lockExclusively(fd);
  if (taken != LockTry::taken) {
    ::close(fd);
    if (taken == LockTry::unsupported) return {};  // no locks on this file system
    char folder[PATH_MAX];
    const std::string name = ::getcwd(folder, sizeof folder) != nullptr ? folder : ".";
    // The folder cannot be taken, as a file that cannot be opened.
    return Failure{"empricer: another run is working in the folder " + name +
                       " and holds its lock; this run stops without touching any file",
                   FailureKind::cannotOpen};
  }
  fd_ = fd;
  return {};
}

}  // namespace empricer
