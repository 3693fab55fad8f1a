// The command line of empricer-dist.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/outcome.h"

constexpr int kDefaultMaxRows = 5000;
constexpr int kLeastMaxRows = 2;

struct DistOptions {
  std::optional<std::string> column;   // --column
  std::optional<std::string> session;  // --session
  int maxRows = kDefaultMaxRows;       // --max-rows
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
