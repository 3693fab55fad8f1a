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
