#include "builder/dist_options.h"

#include <cmath>

#include "builder/csv_fields.h"
#include "builder/day_scale.h"
#include "engine/table/return_table.h"
#include "text/command_line.h"

namespace empricer {

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

// A finite decimal number, whole text.
std::optional<double> finiteNumber(const std::string& text) {
  const std::optional<double> number = decimalNumber(text);
  if (!number || !std::isfinite(*number)) return std::nullopt;
  return number;
}

// --returns-per-day auto (nothing) or N above 0.
CommandOption returnsPerDayOption(std::optional<double>& returnsPerDay) {
  const auto take = [&returnsPerDay](const std::string& value) -> CommandLineProblem {
    const std::optional<double> number = finiteNumber(value);
    if (value != "auto" && !(number && *number > 0.0)) {
      return Failure{"--returns-per-day takes 'auto' or a number above 0, not '" + value + "'"};
    }
    returnsPerDay = value == "auto" ? std::nullopt : number;
    return {};
  };
  return {"--returns-per-day", true, take};
}

// --steps-per-day auto (nothing) or a whole number of the steps empricer takes.
CommandOption stepsPerDayOption(std::optional<int>& stepsPerDay) {
  const auto take = [&stepsPerDay](const std::string& value) -> CommandLineProblem {
    const std::optional<long long> number =
        wholeNumber(value, kLeastStepsPerDay, kMostStepsPerDay);
    if (value != "auto" && !number) {
      return Failure{"--steps-per-day takes 'auto' or a whole number from " +
                     std::to_string(kLeastStepsPerDay) + " to " +
                     std::to_string(kMostStepsPerDay) + ", not '" + value + "'"};
    }
    stepsPerDay = value == "auto" ? std::nullopt : std::optional<int>(static_cast<int>(*number));
    return {};
  };
  return {"--steps-per-day", true, take};
}

// --mean data, risk-neutral, canonical or a finite number.
CommandOption meanOption(MeanChoice& mean, double& meanValue, bool& given) {
  const auto take = [&mean, &meanValue, &given](const std::string& value) -> CommandLineProblem {
    given = true;
    const std::optional<double> number = finiteNumber(value);
    if (value == "data") {
      mean = MeanChoice::data;
    } else if (value == "risk-neutral") {
      mean = MeanChoice::riskNeutral;
    } else if (value == "canonical") {
      mean = MeanChoice::canonical;
    } else if (number) {
      mean = MeanChoice::value;
      meanValue = *number;
    } else {
      return Failure{"--mean takes 'data', 'risk-neutral', 'canonical' or a number, not '" +
                     value + "'"};
    }
    return {};
  };
  return {"--mean", true, take};
}

// --carry Q: a finite number, in the units of the settings file's rate.
CommandOption carryOption(std::optional<double>& carry) {
  const auto take = [&carry](const std::string& value) -> CommandLineProblem {
    carry = finiteNumber(value);
    if (!carry) return Failure{"--carry takes a number, not '" + value + "'"};
    return {};
  };
  return {"--carry", true, take};
}

// --target-vol V above 0.
CommandOption targetVolOption(std::optional<double>& targetVol) {
  const auto take = [&targetVol](const std::string& value) -> CommandLineProblem {
    const std::optional<double> number = finiteNumber(value);
    if (!(number && *number > 0.0)) {
      return Failure{"--target-vol takes an annualised volatility above 0, not '" + value + "'"};
    }
    targetVol = number;
    return {};
  };
  return {"--target-vol", true, take};
}

// --trading-days N above 0.
CommandOption tradingDaysOption(double& tradingDays) {
  const auto take = [&tradingDays](const std::string& value) -> CommandLineProblem {
    const std::optional<double> number = finiteNumber(value);
    if (!(number && *number > 0.0)) {
      return Failure{"--trading-days takes a number above 0, not '" + value + "'"};
    }
    tradingDays = *number;
    return {};
  };
  return {"--trading-days", true, take};
}

}  // namespace

Outcome<DistOptions> parseDistOptions(const std::vector<std::string>& args) {
  DistOptions options;
  std::optional<std::string> setup;
  bool meanGiven = false;
  const CommandOption table[] = {
      textOption("--column", options.column),
      textOption("--session", options.session),
      returnsPerDayOption(options.returnsPerDay),
      stepsPerDayOption(options.stepsPerDay),
      switchOption("--with-gaps", options.withGaps),
      switchOption("--allow-jumps", options.allowJumps),
      meanOption(options.mean, options.meanValue, meanGiven),
      carryOption(options.carry),
      targetVolOption(options.targetVol),
      textOption("--fit", options.fit),
      textOption("--setup", setup),
      wholeNumberOption("--max-rows", kLeastMaxRows, kTableCapacity,
                        [&](long long n) { options.maxRows = static_cast<int>(n); }),
      tradingDaysOption(options.tradingDays),
      textOption("--out", options.out),
      switchOption("--force", options.force),
      textOption("--plot", options.plot),
      endingTheLine(switchOption("--help", options.help)),
      endingTheLine(switchOption("--version", options.version)),
  };
  const ReadCommandLine read =
      readCommandLine(args, {.options = table, .mostOperands = 1, .emptyValues = false});
  if (!read.problem.ok()) return usage(read.problem.message());
  if (options.help || options.version) return options;
  if (read.operands.empty()) return usage("missing price file");
  if (options.withGaps && !options.session) return usage("option '--with-gaps' needs '--session'");
  if (options.fit) {
    if (meanGiven || options.targetVol) {
      return usage(std::string("options '--fit' and '") + (meanGiven ? "--mean" : "--target-vol") +
                   "' both set the table: '--fit' tilts onto the risk-neutral mean and the "
                   "quotes");
    }
    options.mean = MeanChoice::canonical;
  }
  if (options.targetVol) {
    if (meanGiven) {
      return usage("options '--target-vol' and '--mean' both set the mean: '--target-vol' tilts "
                   "onto the risk-neutral mean, as '--mean canonical' does");
    }
    options.mean = MeanChoice::canonical;
  }
  if (setup && !takesRate(options.mean)) {
    return usage("option '--setup' needs '--mean risk-neutral', '--mean canonical', "
                 "'--target-vol' or '--fit'");
  }
  if (options.carry && !takesRate(options.mean)) {
    return usage("option '--carry' needs '--mean risk-neutral', '--mean canonical', "
                 "'--target-vol' or '--fit': only those means have a rate to take the carry from");
  }
  if (setup) options.setup = *setup;
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
         "rows that empricer's sampler draws like the data, one step of the table a bar of\n"
         "the history, rescaled where needed so that the table's day of N steps (valued\n"
         "with empricer --steps-per-day N) has the data's daily mean and variance. A report\n"
         "of the data and of the table as drawn goes to standard output.\n"
         "\n"
         "  --column NAME     price column (default: the adjusted close (adj close,\n"
         "                    adj_close, adjusted close), else close, last or price, any\n"
         "                    case; never a volume, open interest or date column)\n"
         "  --session NAME    returns only between consecutive rows with the same key in\n"
         "                    NAME: its date when it holds a date and a time, else all\n"
         "                    (with --with-gaps, --returns-per-day, --steps-per-day)\n"
         "  --returns-per-day N|auto\n"
         "                    how many of the data's returns make one trading day, above 0\n"
         "                    (default auto: the median session of --session, or the median\n"
         "                    date of a column of dates, else --steps-per-day's; daily\n"
         "                    closes take only 1)\n"
         "  --steps-per-day N|auto\n"
         "                    the steps of the table's day, 1 to 100000 (default auto: the\n"
         "                    median session of --session, one more with --with-gaps, or the\n"
         "                    median date of a column of dates, else 270; 270 with\n"
         "                    --returns-per-day N)\n"
         "  --with-gaps       the table's day also holds the gaps between sessions (needs\n"
         "                    --session; with --steps-per-day)\n"
         "  --allow-jumps     keep a move beyond +-50%, or one within 1% of a split's ratio\n"
         "                    (2, 3, 3/2, 4, 5, 7, 10 or their inverses); with --column\n"
         "  --mean data|VALUE|risk-neutral|canonical\n"
         "                    the table's mean per step: the data's (default), VALUE, or\n"
         "                    the risk-neutral one from keys 3 and 4 of --setup's file,\n"
         "                    every return moved onto it (risk-neutral) or the history's\n"
         "                    returns kept and their weights tilted by exp(theta x return)\n"
         "                    (canonical); with --carry; not with --target-vol or --fit\n"
         "  --carry Q         with --mean risk-neutral or canonical, --target-vol or --fit,\n"
         "                    the mean from the rate less Q (a dividend yield, a repo rate\n"
         "                    or a foreign rate, in the units of the rate: 0.02 is 2%)\n"
         "  --setup FILE      the settings file of --mean risk-neutral or canonical,\n"
         "                    --target-vol and --fit (default Setup.txt)\n"
         "  --target-vol V    the canonical table with its weights tilted by\n"
         "                    exp(theta x return + c x return^2) so that it also draws the\n"
         "                    annualised volatility V (over --trading-days); with --setup\n"
         "                    and --carry; not with --mean or --fit\n"
         "  --fit FILE        the canonical table with its weights tilted as little as the\n"
         "                    quotes of FILE (as empricer --quotes reads them) allow, so\n"
         "                    that their exact prices fall inside their bid/ask; with\n"
         "                    --setup, --carry and --trading-days; not with --mean or\n"
         "                    --target-vol\n"
         "  --max-rows N      at most N rows in the table, 2 to 5000 (default 5000); the\n"
         "                    tilts of --mean canonical, --target-vol and --fit weigh them\n"
         "  --trading-days N  the trading days of a year, above 0, for the report's\n"
         "                    annualised volatility and for --target-vol and --fit\n"
         "                    (default 252)\n"
         "  --out FILE        the table file (default dist.csv); a character device or a\n"
         "                    FIFO is written through, a symbolic link refused; with --force\n"
         "  --force           overwrite the files of --out and --plot if they exist (never\n"
         "                    a symbolic link)\n"
         "  --plot FILE.svg   a picture of the target returns and of the table as drawn (of\n"
         "                    the history's day and the fitted one with --fit); with --force\n"
         "  --help            show this help and exit\n"
         "  --version         show the version and exit\n"
         "\n"
         "Exit status: 0 when the table is written (with a warning on standard error when\n"
         "it misses the accuracy bounds, the sessions are uneven, the band cuts more than\n"
         "1% of the days or a rate looks like a percentage), 1 when an output file or\n"
         "standard output cannot be written or no tilt gives --mean canonical, --target-vol\n"
         "or --fit its table, 2 for a wrong command line, unusable input (a split or a move\n"
         "beyond +-50%, timestamps out of order, options that the history's dates\n"
         "contradict), or an output that exists without --force or is a symbolic link.\n"
         "\n"
         "More in README.md, section \"Making dist.csv from prices: empricer-dist\".\n";
}

std::string versionText() { return std::string(kProgram) + " " + EMPRICER_VERSION + "\n"; }

}  // namespace empricer
