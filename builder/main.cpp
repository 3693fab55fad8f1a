#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "builder/dist_build.h"
#include "builder/dist_options.h"
#include "text/command_line.h"
#include "text/exit_status.h"

using namespace empricer;

namespace {

// Whether all of `text` went out.
bool writeTo(std::FILE* stream, const std::string& text) {
  const bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  return std::fflush(stream) == 0 && written && std::ferror(stream) == 0;
}

// A report or a help text that standard output did not take: status 1, with the reason.
int standardOutputFailed(const std::string& what = "") {
  const int error = errno != 0 ? errno : EIO;
  writeTo(stderr, std::string("empricer-dist: standard output: ") + std::strerror(error) + what +
                      "\n");
  return kFailureStatus;
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
    errno = 0;
    if (!writeTo(stdout, options.help ? helpText() : versionText())) return standardOutputFailed();
    return kDoneStatus;
  }
  const Outcome<BuiltDistribution> built = buildDistribution(options);
  if (!built.ok()) {
    writeTo(stderr, "empricer-dist: " + built.message() + "\n");
    return exitStatusOf(built.kind());
  }
  errno = 0;
  const bool reported = writeTo(stdout, built.value().report);
  const int error = errno;
  for (const std::string& warning : built.value().warnings) {
    writeTo(stderr, "empricer-dist: " + warning + "\n");
  }
  if (!reported) {
    errno = error;
    return standardOutputFailed("; the table was written, its report was not");
  }
  return kDoneStatus;
}
