// The command line of empricer-dist.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "text/status.h"

namespace empricer {

constexpr int kDefaultMaxRows = 5000;
constexpr int kLeastMaxRows = 2;
// The trading days of a year that the report's annualised volatility takes.
constexpr double kTradingYear = 252.0;

// What --mean asks for: the data's mean (after the day's rescaling), a given mean per step, the
// risk-neutral mean from the settings file with every return moved onto it, or that mean
// reached by tilting the history's weights instead (canonical: the returns stay).
enum class MeanChoice { data, value, riskNeutral, canonical };

// Whether the mean is the settings file's risk-neutral one (risk-neutral or canonical).
inline bool takesRate(MeanChoice mean) {
  return mean == MeanChoice::riskNeutral || mean == MeanChoice::canonical;
}

struct DistOptions {
  std::optional<std::string> column;   // --column
  std::optional<std::string> session;  // --session
  std::optional<double> returnsPerDay; // --returns-per-day N; nothing: auto
  std::optional<int> stepsPerDay;      // --steps-per-day N; nothing: auto
  bool withGaps = false;               // --with-gaps
  bool allowJumps = false;             // --allow-jumps
  MeanChoice mean = MeanChoice::data;  // --mean
  double meanValue = 0.0;              // --mean VALUE
  std::optional<double> carry;         // --carry Q, with --mean risk-neutral or canonical
  // --target-vol V: the canonical table tilted onto the annualised volatility V as well (the
  // mean is then canonical's; --mean is not given).
  std::optional<double> targetVol;
  // --fit FILE: the canonical table tilted to meet market quotes (builder/quote_fit.h); the
  // mean is then canonical's; neither --mean nor --target-vol is given.
  std::optional<std::string> fit;
  std::string setup = "Setup.txt";     // --setup
  int maxRows = kDefaultMaxRows;       // --max-rows
  double tradingDays = kTradingYear;   // --trading-days
  std::string out = "dist.csv";        // --out
  bool force = false;                  // --force
  std::optional<std::string> plot;     // --plot
  bool help = false;                   // --help: nothing else is looked at
  bool version = false;                // --version: nothing else is looked at
  std::string prices;                  // the one operand
};

// The options of `args` (the arguments after the program's name), or what is wrong with them
// as one line that starts with the program's name.
Outcome<DistOptions> parseDistOptions(const std::vector<std::string>& args);

// The line that follows every usage error.
std::string tryHelpLine();
std::string helpText();
std::string versionText();

}  // namespace empricer
