#include "runs/run_options.h"

#include <sched.h>

#include <charconv>
#include <cmath>
#include <cstdint>

#include "text/command_line.h"

namespace empricer {

namespace {

constexpr long long kMostThreads = 4096;

// FIRST-LAST, FIRST- or N, with 1 <= FIRST <= LAST.
bool parseRows(const std::string& text, RowRange& rows) {
  const std::size_t dash = text.find('-');
  const std::optional<long long> first = wholeNumber(text.substr(0, dash), 1, INT64_MAX);
  if (!first) return false;
  if (dash == std::string::npos) {
    rows = {*first, *first};
    return true;
  }
  const std::string tail = text.substr(dash + 1);
  const std::optional<long long> last =
      tail.empty() ? std::optional<long long>(INT64_MAX) : wholeNumber(tail, *first, INT64_MAX);
  if (!last) return false;
  rows = {*first, *last};
  return true;
}

Failure usage(const std::string& what) { return Failure{"empricer: " + what}; }

CommandOption rowsOption(std::optional<RowRange>& rows) {
  return {"--rows", true, [&rows](const std::string& value) -> CommandLineProblem {
            RowRange range;
            if (!parseRows(value, range)) {
              return Failure{"--rows takes FIRST-LAST, FIRST- or N with 1 <= FIRST <= LAST, not '" +
                             value + "'"};
            }
            rows = range;
            return {};
          }};
}

CommandOption tradingDaysOption(double& tradingDays) {
  return {"--trading-days", true, [&tradingDays](const std::string& value) -> CommandLineProblem {
            double days = 0.0;
            const char* end = value.data() + value.size();
            const auto [ptr, error] = std::from_chars(value.data(), end, days);
            if (value.empty() || error != std::errc() || ptr != end || !(days > 0.0) ||
                !std::isfinite(days)) {
              return Failure{"--trading-days takes a number above 0, not '" + value + "'"};
            }
            tradingDays = days;
            return {};
          }};
}

// What the options read one by one allow, together; a failure names the first clash.
Status checkTogether(const ProgramOptions& options, bool threadsGiven) {
  const bool onlyTelling = options.help || options.version;
  if (options.check && !onlyTelling) {
    // Only the options that change no value may come with it.
    const char* runOption = threadsGiven             ? "--threads"
                            : options.seed           ? "--seed"
                            : options.rows           ? "--rows"
                            : options.standardErrors ? "--std-errors"
                            : options.chain          ? "--chain"
                            : options.exact          ? "--exact"
                            : options.quotes         ? "--quotes"
                            : options.calibrate      ? "--calibrate"
                            : options.results        ? "--results"
                            : options.plot           ? "--plot"
                                                     : nullptr;
    if (runOption != nullptr) {
      return usage(std::string("--check values nothing, so it takes no ") + runOption);
    }
  }
  if (options.exact && !onlyTelling) {
    if (options.seed) {
      return usage("--exact draws no random numbers, so --seed has nothing to seed");
    }
    if (options.standardErrors) {
      return usage("--exact has no sampling error, so --std-errors has nothing to report");
    }
  }
  if (options.calibrate && !options.exact && !options.chain && !options.check && !onlyTelling) {
    return usage("--calibrate values under a measure of whole paths: give --exact (the exact "
                 "law's lattice) or --chain (the shared paths, weighted) with it");
  }
  if (options.calibrationReport && !options.calibrate && !onlyTelling) {
    return usage("--calibration-report reports a calibration: give --calibrate with it");
  }
  if (options.quotes && !options.results && !options.plot && !options.check && !onlyTelling) {
    return usage("--quotes goes into the results file or the smile picture: give --results or "
                 "--plot with it");
  }
  if (options.rows && !options.seed && !options.exact && !onlyTelling) {
    return usage("--rows needs --seed, so that every shard draws what the whole run would");
  }
  return {};
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
  bool threadsGiven = false;
  const CommandOption table[] = {
      wholeNumberOption("--threads", 1, kMostThreads,
                        [&](long long n) {
                          options.threads = static_cast<int>(n);
                          threadsGiven = true;
                        }),
      wholeNumberOption("--seed", 0, UINT32_MAX,
                        [&](long long n) { options.seed = static_cast<std::uint32_t>(n); }),
      rowsOption(options.rows),
      switchOption("--std-errors", options.standardErrors),
      switchOption("--chain", options.chain),
      switchOption("--exact", options.exact),
      textOption("--quotes", options.quotes),
      textOption("--calibrate", options.calibrate),
      textOption("--calibration-report", options.calibrationReport),
      textOption("--results", options.results),
      textOption("--plot", options.plot),
      tradingDaysOption(options.tradingDays),
      wholeNumberOption("--steps-per-day", 1, kMostStepsPerDay,
                        [&](long long n) { options.stepsPerDay = static_cast<std::int32_t>(n); }),
      switchOption("--quiet", options.quiet),
      switchOption("--check", options.check),
      switchOption("--help", options.help),
      switchOption("--version", options.version),
  };
  const ReadCommandLine read = readCommandLine(args, {.options = table});
  if (!read.problem.ok()) return usage(read.problem.message());
  if (Status together = checkTogether(options, threadsGiven); !together.ok()) {
    return Failure{together.message()};
  }
  return options;
}

RunConfig runConfigOf(const ProgramOptions& options) {
  return {options.threads,        options.seed,        options.rows,
          options.standardErrors, options.tradingDays, options.stepsPerDay,
          options.chain,          options.exact};
}

std::string rowsText(const RowRange& rows) {
  std::string text = std::to_string(rows.first);
  if (rows.last == rows.first) return text;
  text += '-';
  if (rows.last != INT64_MAX) text += std::to_string(rows.last);
  return text;
}

std::string emptyShardMessage(const RowRange& rows, std::int64_t dataRows,
                              const std::string& batchName) {
  return "empricer: --rows " + rowsText(rows) + " selects no row: " + batchName + " has " +
         std::to_string(dataRows) + " data row" + (dataRows == 1 ? "" : "s");
}

std::vector<std::string> argumentsOf(const RunArguments& run) {
  std::vector<std::string> args;
  if (run.threads) args.insert(args.end(), {"--threads", std::to_string(*run.threads)});
  if (run.seed) args.insert(args.end(), {"--seed", std::to_string(*run.seed)});
  if (run.first || run.last) {
    // Either end alone keeps the other open, as FIRST- does and as 1-LAST would.
    const std::string first = std::to_string(run.first.value_or(1));
    args.insert(args.end(), {"--rows", first + "-" + (run.last ? std::to_string(*run.last) : "")});
  }
  if (run.exact) args.emplace_back("--exact");
  if (run.chain) args.emplace_back("--chain");
  if (run.tradingDays) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, *run.tradingDays).ptr;
    args.insert(args.end(), {"--trading-days", std::string(text, end)});
  }
  if (run.stepsPerDay) {
    args.insert(args.end(), {"--steps-per-day", std::to_string(*run.stepsPerDay)});
  }
  if (run.results) args.insert(args.end(), {"--results", *run.results});
  if (run.quiet) args.emplace_back("--quiet");
  return args;
}

}  // namespace empricer
