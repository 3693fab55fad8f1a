#include "builder/dist_options.h"

#include <charconv>

#include "engine/return_table.h"

#ifndef EMPRICER_VERSION
#error "EMPRICER_VERSION must be defined by the build"
#endif

namespace {

constexpr const char* kProgram = "empricer-dist";

Failure usage(const std::string& what) { return Failure{std::string(kProgram) + ": " + what}; }

// A whole decimal number from `low` to `high`, nothing else.
std::optional<int> wholeNumber(const std::string& text, int low, int high) {
  int value = 0;
  const char* end = text.data() + text.size();
  if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
  const auto [ptr, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || ptr != end || value < low || value > high) return std::nullopt;
  return value;
}

}  // namespace

Outcome<DistOptions> parseDistOptions(const std::vector<std::string>& args) {
  DistOptions options;
  std::vector<std::string> operands;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const bool flag = name == "--force" || name == "--help" || name == "--version";
    const bool valued = name == "--column" || name == "--session" || name == "--max-rows" ||
                        name == "--out" || name == "--plot";
    if (!flag && !valued) return usage("unrecognized option '" + name + "'");
    if (flag) {
      if (equals != std::string::npos) {
        return usage("option '" + name + "' doesn't allow an argument");
      }
      if (name == "--help" || name == "--version") {
        options.help = name == "--help";
        options.version = name == "--version";
        return options;
      }
      options.force = true;
      continue;
    }
    std::string value;
    if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return usage("option '" + name + "' requires an argument");
    }
    if (value.empty()) return usage("option '" + name + "' requires a non-empty argument");
    if (name == "--max-rows") {
      const auto rows = wholeNumber(value, kLeastMaxRows, kTableCapacity);
      if (!rows) {
        return usage("option '--max-rows' takes a whole number from " +
                     std::to_string(kLeastMaxRows) + " to " + std::to_string(kTableCapacity) +
                     ", not '" + value + "'");
      }
      options.maxRows = *rows;
    } else if (name == "--column") {
      options.column = value;
    } else if (name == "--session") {
      options.session = value;
    } else if (name == "--out") {
      options.out = value;
    } else {
      options.plot = value;
    }
  }
  if (operands.empty()) return usage("missing price file");
  if (operands.size() > 1) return usage("extra operand '" + operands[1] + "'");
  if (options.plot && *options.plot == options.out) {
    return usage("options '--plot' and '--out' name the same file '" + options.out + "'");
  }
  options.prices = operands[0];
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
