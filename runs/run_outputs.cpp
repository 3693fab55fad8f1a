#include "runs/run_outputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "runs/file_names.h"
#include "runs/folder_lock.h"
#include "text/same_file.h"

namespace empricer {

Status outputsApartFromInputs(const RunFiles& files, bool batchRun) {
  // An output given on the command line is named by its option, so that the message says
  // which argument to change; Batch_Result.csv comes first, so that --results or --plot is
  // named when one of them is that file.
  std::vector<NamedFile> outputs = {
      {kTemporaryFileName, std::string("the scratch file ") + kTemporaryFileName}};
  if (batchRun) {
    outputs.push_back({kResultFileName, std::string("the batch run's ") + kResultFileName});
  }
  if (files.results) outputs.push_back({*files.results, "--results " + *files.results});
  if (files.plot) outputs.push_back({*files.plot, "--plot " + *files.plot});

  std::vector<NamedFile> inputs = {
      {kSettingsFileName, std::string("the settings file ") + kSettingsFileName},
      {kDistributionFileName, std::string("the return table ") + kDistributionFileName},
      {kBatchFileName, std::string("the batch file ") + kBatchFileName}};
  if (files.quotes) inputs.push_back({*files.quotes, "the quotes file (--quotes)"});

  const Status apart = outputsApart(outputs, inputs);
  if (apart.ok()) return {};
  return Failure{"empricer: " + apart.message(), apart.kind()};
}

OutputLock::~OutputLock() {
  if (fd_ < 0) return;
  // A file made for the lock that the run stopped before writing is not left behind, as long
  // as the name still leads to it.
  struct stat held {};
  struct stat named {};
  if (made_ && ::fstat(fd_, &held) == 0 && held.st_size == 0 &&
      ::stat(path_.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
      named.st_ino == held.st_ino) {
    ::unlink(path_.c_str());
  }
  ::close(fd_);  // releases the lock
}

Status OutputLock::acquire(const std::string& path, const char* option) {
  struct stat status {};
  const bool exists = ::stat(path.c_str(), &status) == 0;
  if (exists && !S_ISREG(status.st_mode)) return {};
  // Never emptied here: the run empties it once it holds the lock. O_NONBLOCK: a pipe put in
  // its place meanwhile does not wait for a reader.
  constexpr int kFlags = O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC;
  int fd = exists ? -1 : ::open(path.c_str(), kFlags | O_EXCL, 0666);
  const bool made = fd >= 0;
  if (fd < 0) fd = ::open(path.c_str(), kFlags, 0666);
  if (fd < 0) return {};  // the run's own open tells what is wrong
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return {};
  }
  const LockTry taken = lockExclusively(fd);
  if (taken != LockTry::held) {
    // Without locks on its file system the file is kept open all the same, to be removed
    // at the end when the run made it and wrote nothing to it.
    fd_ = fd;
    made_ = made;
    path_ = path;
    return {};
  }
  ::close(fd);
  return Failure{"empricer: another run is writing " + path + " (" + option +
                     ") and holds its lock; this run stops without touching any file",
                 FailureKind::cannotOpen};
}

}  // namespace empricer
