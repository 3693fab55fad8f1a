#include "builder/dist_options.h"

#include "engine/return_table.h"
#include "text/command_line.h"

#ifndef EMPRICER_VERSION
#error "EMPRICER_VERSION must be defined by the build"
#endif

namespace {

constexpr const char* kProgram = "empricer-dist";

Failure usage(const std::string& what) { return Failure{std::string(kProgram) + ": " + what}; }

// --help and --version: nothing after them is looked at, not even a missing price file.
CommandOption endingTheLine(CommandOption option) {
  option.endsLine = true;
  return option;
}

}  // namespace

Outcome<DistOptions> parseDistOptions(const std::vector<std::string>& args) {
  DistOptions options;
  const CommandOption table[] = {
      textOption("--column", options.column),
      textOption("--session", options.session),
      wholeNumberOption("--max-rows", kLeastMaxRows, kTableCapacity,
                        [&](long long n) { options.maxRows = static_cast<int>(n); }),
      textOption("--out", options.out),
      switchOption("--force", options.force),
      textOption("--plot", options.plot),
      endingTheLine(switchOption("--help", options.help)),
      endingTheLine(switchOption("--version", options.version)),
  };
  const ReadCommandLine read =
      readCommandLine(args, {.options = table, .mostOperands = 1, .emptyValues = false});
  if (read.problem) return usage(*read.problem);
  if (options.help || options.version) return options;
  if (read.operands.empty()) return usage("missing price file");
  if (options.plot && *options.plot == options.out) {
    return usage("options '--plot' and '--out' name the same file '" + options.out + "'");
  }
  options.prices = read.operands[0];
  return options;
}

std::string tryHelpLine() { return std::string("Try '") + kProgram + " --help'."; }

std::string helpText() {
  return "Usage: empricer-dist [OPTION]... PRICES.csv\n"
         "Make the return distribution file of empricer (dist.csv) from a price history.\n"
         "\n"
         "PRICES.csv has a header line naming its columns and one row of prices per line,\n"
         "separated by commas (or by semicolons or tabs when the header uses them). The\n"
         "returns p[t] / p[t-1] - 1 of consecutive prices become a table of return,weight\n"
         "rows that empricer's sampler draws like the data. A report of the data and of the\n"
         "table as drawn goes to standard output.\n"
         "\n"
         "  --column NAME     price column (default: a column named close, any case; else the last)\n"
         "  --session NAME    returns only between consecutive rows with the same value in NAME\n"
         "  --max-rows N      at most N rows in the table, 2 to 5000 (default 5000)\n"
         "  --out FILE        the table file (default dist.csv)\n"
         "  --force           overwrite the output files if they exist\n"
         "  --plot FILE.svg   a picture of the data and of the table as the sampler draws it\n"
         "  --help            show this help and exit\n"
         "  --version         show the version and exit\n"
         "\n"
         "Exit status: 0 when the table is written (a warning on standard error when it\n"
         "misses the accuracy bounds), 1 when an output file cannot be written, 2 for a\n"
         "wrong command line, unusable input, or an output that exists without --force.\n"
         "\n"
         "More in README.md, section \"Making dist.csv from prices: empricer-dist\".\n";
}

std::string versionText() { return std::string(kProgram) + " " + EMPRICER_VERSION + "\n"; }
