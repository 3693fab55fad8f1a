#include "app/options.h"

#include <sched.h>

#include <charconv>
#include <cstdio>

#include "app/runs.h"

#ifndef EMPRICER_VERSION
#define EMPRICER_VERSION "unknown"
#endif

namespace {

constexpr long long kMostThreads = 4096;

// A whole decimal number from `low` to `high`, nothing else.
bool parseWhole(const std::string& text, long long low, long long high, long long& value) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin == end || *begin < '0' || *begin > '9') return false;
  const auto [ptr, error] = std::from_chars(begin, end, value);
  return error == std::errc() && ptr == end && value >= low && value <= high;
}

// FIRST-LAST, FIRST- or N, with 1 <= FIRST <= LAST.
bool parseRows(const std::string& text, RowRange& rows) {
  const std::size_t dash = text.find('-');
  long long first = 0;
  long long last = 0;
  if (dash == std::string::npos) {
    if (!parseWhole(text, 1, INT64_MAX, first)) return false;
    rows = {first, first};
    return true;
  }
  if (!parseWhole(text.substr(0, dash), 1, INT64_MAX, first)) return false;
  const std::string tail = text.substr(dash + 1);
  if (tail.empty()) {
    rows = {first, INT64_MAX};
    return true;
  }
  if (!parseWhole(tail, first, INT64_MAX, last)) return false;
  rows = {first, last};
  return true;
}

Failure usage(const std::string& what) { return Failure{"empricer: " + what}; }

}  // namespace

int availableCpuCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int count = CPU_COUNT(&set);
  return count > 0 ? count : 1;
}

std::string usageText() {
  return "Usage: empricer [OPTION]...\n"
         "Values European call and put options by Monte Carlo simulation, drawing every step's\n"
         "price change from the distribution in dist.csv. Reads Setup.txt and dist.csv (and\n"
         "batch.csv for a batch run) in the working directory, asks on the console for a manual\n"
         "run, and writes to standard output (and Batch_Result.csv for a batch run).\n"
         "\n"
         "Options:\n"
         "  --threads N        value on N threads (default: every CPU this process may use)\n"
         "  --seed N           seed the generator with N (0 to 4294967295) instead of the clock\n"
         "  --rows FIRST-LAST  value only these data rows of batch.csv (also FIRST- and N);\n"
         "                     needs --seed, so that shards of a batch join up\n"
         "  --std-errors       also report the Monte Carlo standard error of every value\n"
         "  --quiet            no progress line on standard error\n"
         "  --help             show this help and exit\n"
         "  --version          show the version and exit\n"
         "\n"
         "With no option the program runs as it always has. The README beside the sources\n"
         "describes the files, the settings and every option.\n";
}

Outcome<ProgramOptions> parseOptions(const std::vector<std::string>& args) {
  ProgramOptions options;
  options.threads = availableCpuCount();
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      return usage("unexpected argument '" + arg + "'");
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const bool inlineValue = equals != std::string::npos;
    const std::string given = inlineValue ? arg.substr(equals + 1) : std::string();

    const bool takesValue = name == "--threads" || name == "--seed" || name == "--rows";
    const bool isSwitch = name == "--std-errors" || name == "--quiet" || name == "--help" ||
                          name == "--version";
    if (!takesValue && !isSwitch) return usage("unrecognized option '" + name + "'");
    if (isSwitch) {
      if (inlineValue) return usage("option '" + name + "' takes no value");
      if (name == "--std-errors") options.standardErrors = true;
      if (name == "--quiet") options.quiet = true;
      if (name == "--help") options.help = true;
      if (name == "--version") options.version = true;
      continue;
    }
    std::string value = given;
    if (!inlineValue) {
      if (i + 1 == args.size()) return usage("option '" + name + "' needs a value");
      value = args[++i];
    }
    long long number = 0;
    if (name == "--threads") {
      if (!parseWhole(value, 1, kMostThreads, number)) {
        return usage("--threads takes a whole number from 1 to " +
                     std::to_string(kMostThreads) + ", not '" + value + "'");
      }
      options.threads = static_cast<int>(number);
    } else if (name == "--seed") {
      if (!parseWhole(value, 0, 4294967295LL, number)) {
        return usage("--seed takes a whole number from 0 to 4294967295, not '" + value + "'");
      }
      options.seed = static_cast<std::uint32_t>(number);
    } else {
      RowRange rows;
      if (!parseRows(value, rows)) {
        return usage("--rows takes FIRST-LAST, FIRST- or N with 1 <= FIRST <= LAST, not '" +
                     value + "'");
      }
      options.rows = rows;
    }
  }
  if (options.rows && !options.seed && !options.help && !options.version) {
    return usage("--rows needs --seed, so that every shard draws what the whole run would");
  }
  return options;
}

int runWithArguments(const std::vector<std::string>& args, Clock& clock, ConsoleInput& console,
                     const TestControls& test) {
  Outcome<ProgramOptions> parsed = parseOptions(args);
  if (!parsed.ok()) {
    std::fprintf(stderr, "%s\nTry 'empricer --help'.\n", parsed.message().c_str());
    return kUsageStatus;
  }
  ProgramOptions& options = parsed.value();
  if (options.help) {
    std::fputs(usageText().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::fputs("empricer " EMPRICER_VERSION "\n", stdout);
    return 0;
  }
  if (test.simulation) options.simulation = *test.simulation;
  if (test.progressAfter) options.progressAfter = *test.progressAfter;
  return runProgram(clock, console, options);
}
