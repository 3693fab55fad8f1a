#include <cstdio>
#include <string>
#include <vector>

#include "builder/dist_build.h"
#include "builder/dist_options.h"
#include "text/command_line.h"
#include "text/exit_status.h"

using namespace empricer;

namespace {

void writeTo(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

// Input that cannot be used is refused as a command line is; an output that cannot be made or
// written is a failure.
int exitStatusOf(FailureKind kind) {
  return kind == FailureKind::badInput ? kUsageStatus : kFailureStatus;
}

}  // namespace

int main(int argc, char** argv) {
  const Outcome<DistOptions> parsed =
      parseDistOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.ok()) {
    writeTo(stderr, parsed.message() + "\n" + tryHelpLine() + "\n");
    return kUsageStatus;
  }
  const DistOptions& options = parsed.value();
  if (options.help || options.version) {
    writeTo(stdout, options.help ? helpText() : versionText());
    return kDoneStatus;
  }
  const Outcome<BuiltDistribution> built = buildDistribution(options);
  if (!built.ok()) {
    writeTo(stderr, "empricer-dist: " + built.message() + "\n");
    return exitStatusOf(built.kind());
  }
  writeTo(stdout, built.value().report);
  for (const std::string& warning : built.value().warnings) {
    writeTo(stderr, "empricer-dist: " + warning + "\n");
  }
  return kDoneStatus;
}
