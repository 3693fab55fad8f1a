// The files a run writes beside the console (--results, --plot, Batch_Result.csv): never one
// of its inputs, never one file twice, and the named ones never written by two runs at once.
#pragma once

#include <string>

#include <optional>

#include "text/status.h"

namespace empricer {

// The files a run's options name: the outputs it writes and the quotes it reads.
struct RunFiles {
  std::optional<std::string> results;  // --results
  std::optional<std::string> plot;     // --plot
  std::optional<std::string> quotes;   // --quotes
};

// Refuses a run whose outputs would write over one of its inputs (Setup.txt, dist.csv,
// batch.csv, the quotes file) or over each other (also the scratch file VelmarTemp.txt, which
// every valuation may make and remove): "empricer: --results quotes.csv is the quotes file
// (--quotes); an output never overwrites an input" (badInput, no line end). `batchRun` adds
// Batch_Result.csv to the outputs. Looks at the files without opening any.
Status outputsApartFromInputs(const RunFiles& files, bool batchRun);

// An exclusive advisory lock (flock) on an output file named on the command line, held from
// before the file is emptied to the end of the run, so that two runs never write it at once.
class OutputLock {
 public:
  OutputLock() = default;
  // Releases the lock; a file that the lock made and nothing was written to goes with it.
  ~OutputLock();
  OutputLock(const OutputLock&) = delete;
  OutputLock& operator=(const OutputLock&) = delete;

  // Takes the lock of the file at `path` (`option` names it in a message) without waiting,
  // making the file when it is missing but never emptying it. Fails, with the message the run
  // stops with (no line end), when another run holds it. A path that is not a regular file
  // (a device, a pipe), that cannot be opened, or whose file system keeps no such locks is
  // written unlocked, as before.
  Status acquire(const std::string& path, const char* option);

 private:
  int fd_ = -1;
  bool made_ = false;  // the file did not exist before acquire
  std::string path_;
};

}  // namespace empricer
