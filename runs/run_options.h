// A run's options as the command line states them, read by the command line's own rules: the
// program reads its arguments by them, and the Python module the arguments that say what its
// caller asked, so that both refuse the same things with the same message. GNU conventions:
// --name VALUE and --name=VALUE, a lone -- ends the options, and a usage error is a message.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runs/run_config.h"
#include "engine/simulation/valuation_queue.h"
#include "text/command_line.h"
#include "text/status.h"

namespace empricer {

struct ProgramOptions {
  int threads = 1;                     // threads for the valuations, the calling one included
  std::optional<std::uint32_t> seed;   // instead of the clock
  std::optional<RowRange> rows;        // value only these batch rows (needs a seed)
  bool standardErrors = false;         // report the Monte Carlo standard errors
  bool chain = false;                  // value the rows of each S0 on one set of paths
  bool exact = false;                  // the figures' limits, from the exact terminal law
  std::optional<std::string> quotes;   // market quotes beside the model's values
  std::optional<std::string> calibrate;  // quotes the paths' measure is calibrated to
  std::optional<std::string> calibrationReport;  // the calibration's report (CSV)
  std::optional<std::string> results;  // the tidy results file
  std::optional<std::string> plot;     // the smile picture
  double tradingDays = 252.0;          // days in a year, for the yearly volatility
  std::int32_t stepsPerDay = kDefaultStepsPerDay;  // the steps of a day
  bool quiet = false;                  // no progress line
  bool check = false;                  // read the input files and tell what reads oddly
  bool help = false;
  bool version = false;
};

// The CPUs this process may run on: its affinity mask, so that taskset and container limits
// count; at least 1.
int availableCpuCount();

// The options of `args` (the arguments after the program's name), or what is wrong with them
// as "empricer: ..." without a line end.
Outcome<ProgramOptions> parseOptions(const std::vector<std::string>& args);

// What a run reads of `options`.
RunConfig runConfigOf(const ProgramOptions& options);

// A run's options as a caller in process states them (the Python module), to be read by
// parseOptions as the command line that says the same: each value as its option's text.
struct RunArguments {
  std::optional<std::int64_t> threads;   // --threads N
  std::optional<std::int64_t> seed;      // --seed N
  std::optional<std::int64_t> first;     // --rows FIRST-LAST, when either end is given; the
  std::optional<std::int64_t> last;      // other end is open (1, or the batch's last row)
  bool exact = false;                    // --exact
  bool chain = false;                    // --chain
  std::optional<double> tradingDays;     // --trading-days X, X the shortest text of the double
  std::optional<std::int64_t> stepsPerDay;  // --steps-per-day N
  std::optional<std::string> results;    // --results FILE
  bool quiet = false;                    // --quiet
};

// The command line's arguments (after the program's name) for `run`.
std::vector<std::string> argumentsOf(const RunArguments& run);

// The text of --rows for `rows`: "N" for one row, "FIRST-" when open, "FIRST-LAST" otherwise.
std::string rowsText(const RowRange& rows);

// What a shard that selects no row is told: "empricer: --rows 50-60 selects no row: batch.csv
// has 44 data rows" (no line end).
std::string emptyShardMessage(const RowRange& rows, std::int64_t dataRows,
                              const std::string& batchName);

}  // namespace empricer
