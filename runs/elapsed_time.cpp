#include "runs/elapsed_time.h"

#include <string>

#include "text/number_text.h"
#include "text/output_file.h"

namespace empricer {

namespace {

constexpr std::int32_t kMinutesFrom = 200;

// Elapsed times are held in 32 bits; a larger difference wraps rather than misbehaves.
std::int32_t secondsSince(Clock& clock, std::int64_t since) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(clock.now() - since));
}

}  // namespace

void writeElapsedLine(Clock& clock, std::string_view prefix, std::int64_t since) {
  const std::int32_t decided = secondsSince(clock, since);
  const std::int32_t shown = secondsSince(clock, since);
  std::string line(prefix);
  if (decided < kMinutesFrom) {
    appendInteger(line, shown);
    line += " seconds.";
  } else {
    appendInteger(line, shown / 60);
    line += " minutes.";
  }
  writeLine(stdout, line);
}

}  // namespace empricer
