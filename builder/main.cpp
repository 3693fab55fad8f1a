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
  const BuildEnd end = buildDistribution(options);
  switch (end.kind) {
    case BuildEnd::Kind::written:
      writeTo(stdout, end.report);
      for (const std::string& warning : end.warnings) {
        writeTo(stderr, "empricer-dist: " + warning + "\n");
      }
      return kDoneStatus;
    case BuildEnd::Kind::unusable:
      writeTo(stderr, "empricer-dist: " + end.message + "\n");
      return kUsageStatus;
    case BuildEnd::Kind::unwritable:
      break;
  }
  writeTo(stderr, "empricer-dist: " + end.message + "\n");
  return kFailureStatus;
}
