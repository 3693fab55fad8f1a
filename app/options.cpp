#include "app/options.h"

#include <sched.h>

#include <charconv>
#include <cstdio>

namespace {

constexpr int kMostThreads = 4096;

// A whole decimal number from `low` to `high`, nothing else.
bool parseWhole(const std::string& text, long long low, long long high, long long& value) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin == end || *begin < '0' || *begin > '9') return false;
  const auto [ptr, error] = std::from_chars(begin, end, value);
  return error == std::errc() && ptr == end && value >= low && value <= high;
}

}  // namespace

int availableCpuCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int count = CPU_COUNT(&set);
  return count > 0 ? count : 1;
}

Outcome<ProgramOptions> parseOptions(const std::vector<std::string>& args) {
  ProgramOptions options;
  options.threads = availableCpuCount();
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--threads" || arg.rfind("--threads=", 0) == 0) {
      std::string value;
      if (arg == "--threads") {
        if (i + 1 == args.size()) return Failure{"empricer: --threads needs a value"};
        value = args[++i];
      } else {
        value = arg.substr(10);
      }
      long long threads = 0;
      if (!parseWhole(value, 1, kMostThreads, threads)) {
        return Failure{"empricer: --threads takes a whole number from 1 to " +
                       std::to_string(kMostThreads) + ", not '" + value + "'"};
      }
      options.threads = static_cast<int>(threads);
      continue;
    }
    return Failure{"empricer: unknown argument '" + arg + "'"};
  }
  return options;
}

int runWithArguments(const std::vector<std::string>& args, Clock& clock, ConsoleInput& console,
                     const std::optional<SimulationChoice>& simulation) {
  Outcome<ProgramOptions> parsed = parseOptions(args);
  if (!parsed.ok()) {
    std::fprintf(stderr, "%s\n", parsed.message().c_str());
    return kUsageStatus;
  }
  if (simulation) parsed.value().simulation = *simulation;
  return runProgram(clock, console, parsed.value());
}
