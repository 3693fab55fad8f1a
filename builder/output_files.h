// Output files that appear whole, all of them or none: each one's content goes to a new file
// beside its target, and only when every one is written do they take the targets' names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "text/status.h"

namespace empricer {

// One output on its way: written to `temporary`, to take the name `target`.
struct PendingOutput {
  std::string target;
  std::string temporary;
  std::string kept;     // while moving with replace: a name for what the target held before
  bool placed = false;  // the content has the target's name
};

// What stands at an output's path before the work begins.
enum class OutputPlace {
  free,     // nothing: the output is a new file
  file,     // a regular file
  through,  // a character device (/dev/null, a terminal) or a FIFO: written through, in place
};

// Where an output goes, checked before any work: a symbolic link is never replaced (status 2,
// even with `force`), nor a regular file without `force`; a folder, a socket or a block device
// cannot be created (cannotOpen), nor a new file in a folder that is missing or that cannot be
// written.
Outcome<OutputPlace> checkOutputPlace(const std::string& path, bool force);

// Writes `content` to the character device or FIFO at `path` (opened without truncating it).
Status writeThrough(const std::string& path, std::string_view content);

class PendingOutputs {
 public:
  PendingOutputs() = default;
  // Removes every new file that has not taken its name, on every path out of a build.
  ~PendingOutputs();
  PendingOutputs(const PendingOutputs&) = delete;
  PendingOutputs& operator=(const PendingOutputs&) = delete;

  // Creates a new file in the folder of `target`, named after it, and writes `content` to it.
  // Gives the new file's path.
  Outcome<std::string> writeBeside(const std::string& target, std::string_view content);

  // Gives every new file its target's name, in the order written, or none: when one cannot
  // take its name, each target already taken gets back what it held before (or is removed
  // when it held nothing). Without `replace` an existing target is left alone and the move
  // fails.
  Status moveIntoPlace(bool replace);

 private:
  // Every placed output gets back what its target held before, in reverse order.
  void putBack();

  std::vector<PendingOutput> outputs_;
};

}  // namespace empricer
