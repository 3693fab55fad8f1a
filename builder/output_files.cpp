#include "builder/output_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace empricer {

namespace {

// "PATH: cannot create: " and the system's reason: the output cannot be made.
Failure cannotCreate(const std::string& path, int error) {
  return Failure{path + ": cannot create: " + std::strerror(error), FailureKind::cannotOpen};
}

// "PATH: cannot write: " and the system's reason.
Failure cannotWrite(const std::string& path, int error) {
  return Failure{path + ": cannot write: " + std::strerror(error), FailureKind::cannotWrite};
}

Status renameInto(PendingOutput& output) {
  if (std::rename(output.temporary.c_str(), output.target.c_str()) != 0) {
    return cannotCreate(output.target, errno);
  }
  output.placed = true;
  return {};
}

// Without --force: the target must not exist.
Status takeFreeName(PendingOutput& output) {
  // A hard link fails when the target exists, so nothing made meanwhile is overwritten.
  if (::link(output.temporary.c_str(), output.target.c_str()) == 0) {
    output.placed = true;
    ::unlink(output.temporary.c_str());
    return {};
  }
  if (errno == EEXIST) {
    // It appeared since the build began, made by another program: it is left alone.
    return Failure{output.target +
                       ": another program made this file while the table was built; it is "
                       "left as it is and nothing was written",
                   FailureKind::cannotWrite};
  }
  // Some file systems have no hard links; the target did not exist a moment ago.
  return renameInto(output);
}

// With --force: what the target holds is kept under a second name until every output is in
// place. A folder is not kept: no file replaces it.
Status replaceTarget(PendingOutput& output) {
  const std::string kept = output.temporary + ".old";
  bool movedAside = false;
  if (::link(output.target.c_str(), kept.c_str()) == 0) {
    output.kept = kept;
  } else if (struct stat status {};
             ::lstat(output.target.c_str(), &status) == 0 && !S_ISDIR(status.st_mode)) {
    // A file system without hard links: the old file itself steps aside.
    if (::rename(output.target.c_str(), kept.c_str()) != 0) {
      return cannotCreate(output.target, errno);
    }
    output.kept = kept;
    movedAside = true;
  }
  Status moved = renameInto(output);
  if (!moved.ok() && !output.kept.empty()) {
    if (movedAside) {
      ::rename(kept.c_str(), output.target.c_str());
    } else {
      ::unlink(kept.c_str());
    }
    output.kept.clear();
  }
  return moved;
}

// Writes all of `content` to `fd`; the errno value of a failure, or 0.
int writeAll(int fd, std::string_view content) {
  std::size_t written = 0;
  while (written < content.size()) {
    const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    written += static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace

Outcome<OutputPlace> checkOutputPlace(const std::string& path, bool force) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0) {
    if (S_ISLNK(status.st_mode)) {
      return Failure{path + ": is a symbolic link, which empricer-dist never replaces (not "
                            "even with --force); name the file it leads to, or remove the link"};
    }
    if (S_ISCHR(status.st_mode) || S_ISFIFO(status.st_mode)) return OutputPlace::through;
    if (S_ISDIR(status.st_mode)) return cannotCreate(path, EISDIR);
    if (!S_ISREG(status.st_mode)) {
      return Failure{path + ": cannot create: it is neither a regular file, a character device "
                            "nor a FIFO",
                     FailureKind::cannotOpen};
    }
    if (!force) return Failure{path + ": exists; use --force to overwrite it"};
    return OutputPlace::file;
  }
  if (errno != ENOENT) return cannotCreate(path, errno);
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return cannotCreate(path, errno);
  return OutputPlace::free;
}

Status writeThrough(const std::string& path, std::string_view content) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return cannotCreate(path, errno);
  const int error = writeAll(fd, content);
  const int closed = ::close(fd) == 0 ? 0 : errno;
  if (error != 0 || closed != 0) return cannotWrite(path, error != 0 ? error : closed);
  return {};
}

PendingOutputs::~PendingOutputs() {
  for (const PendingOutput& output : outputs_) {
    if (!output.placed) ::unlink(output.temporary.c_str());
  }
}

Outcome<std::string> PendingOutputs::writeBeside(const std::string& target,
                                                 std::string_view content) {
  // The folder and the name: "<folder>/.<name>.<pid>.<n>", hidden, never an existing file.
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string path;
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    path = folder + "." + name + "." + std::to_string(::getpid()) + "." + std::to_string(attempt);
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && (errno != EEXIST || attempt == 100)) return cannotCreate(target, errno);
  }
  outputs_.push_back({.target = target, .temporary = path, .kept = "", .placed = false});
  if (const int error = writeAll(fd, content); error != 0) {
    ::close(fd);
    return cannotWrite(target, error);
  }
  if (::close(fd) != 0) return cannotWrite(target, errno);
  return path;
}

Status PendingOutputs::moveIntoPlace(bool replace) {
  for (PendingOutput& output : outputs_) {
    Status moved = replace ? replaceTarget(output) : takeFreeName(output);
    if (!moved.ok()) {
      putBack();
      return moved;
    }
  }
  for (const PendingOutput& output : outputs_) {
    if (!output.kept.empty()) ::unlink(output.kept.c_str());
  }
  return {};
}

void PendingOutputs::putBack() {
  for (auto output = outputs_.rbegin(); output != outputs_.rend(); ++output) {
    if (!output->placed) continue;
    // What the target held comes back; when that fails it stays under the kept name.
    if (!output->kept.empty()) {
      ::rename(output->kept.c_str(), output->target.c_str());
    } else {
      ::unlink(output->target.c_str());
    }
    output->kept.clear();
  }
}

}  // namespace empricer
