#include "builder/output_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

Failure failureFor(const std::string& path, const char* doing, int error) {
  return Failure{path + ": cannot " + doing + ": " + std::strerror(error)};
}

}  // namespace

Outcome<std::string> writeBeside(const std::string& target, std::string_view content) {
  // The folder and the name: "<folder>/.<name>.<pid>.<n>", hidden, never an existing file.
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string path;
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    path = folder + "." + name + "." + std::to_string(::getpid()) + "." + std::to_string(attempt);
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && (errno != EEXIST || attempt == 100)) return failureFor(target, "create", errno);
  }
  std::size_t written = 0;
  while (written < content.size()) {
    const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      ::close(fd);
      ::unlink(path.c_str());
      return failureFor(target, "write", error);
    }
    written += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) {
    const int error = errno;
    ::unlink(path.c_str());
    return failureFor(target, "write", error);
  }
  return path;
}

Status moveIntoPlace(const std::string& temporary, const std::string& target, bool replace) {
  if (!replace) {
    // A hard link fails when the target exists, so nothing made meanwhile is overwritten.
    if (::link(temporary.c_str(), target.c_str()) == 0) {
      ::unlink(temporary.c_str());
      return {};
    }
    const int error = errno;
    if (error == EEXIST) {
      ::unlink(temporary.c_str());
      return Failure{target + ": exists; use --force to overwrite it"};
    }
    // Some file systems have no hard links; the target did not exist a moment ago.
  }
  if (std::rename(temporary.c_str(), target.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return failureFor(target, "create", error);
  }
  return {};
}

void discardFile(const std::string& path) {
  if (!path.empty()) ::unlink(path.c_str());
}
