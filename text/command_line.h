// Command lines read against a table of options, one parser for every program: GNU's long
// options (--name VALUE or --name=VALUE), a lone "--" before operands only, and one message
// for each kind of mistake. The messages leave out the program's name; the caller writes it
// first and gives kUsageStatus.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "text/exit_status.h"
#include "text/status.h"

namespace empricer {

// What is wrong with a command line: a failure whose message leaves out the program's name.
using CommandLineProblem = Status;

// One option of a table. `take` gets the option's value ("" for a switch) and stores it, or
// says what is wrong with it.
struct CommandOption {
  std::string name;         // with its dashes: "--seed"
  bool takesValue = false;  // --name VALUE or --name=VALUE; otherwise a switch, given bare
  std::function<CommandLineProblem(const std::string& value)> take;
  bool endsLine = false;    // nothing after this option is looked at (a --help that wins)
};

struct CommandLineForm {
  std::span<const CommandOption> options;
  std::size_t mostOperands = 0;  // the words that are no option, and every word after "--"
  bool emptyValues = true;       // whether --name= or --name "" may give an empty value
};

struct ReadCommandLine {
  CommandLineProblem problem;         // the first mistake, from the left (ok: none)
  std::vector<std::string> operands;  // in their order
};

// Reads `args` (the words after the program's name) from left to right, taking each option
// as it comes, up to the first mistake or an option that ends the line. A word of one dash
// and more is never an operand; no option has a one-letter name.
ReadCommandLine readCommandLine(const std::vector<std::string>& args, const CommandLineForm& form);

// A whole decimal number from `low` to `high`: digits only, no sign, no blank.
std::optional<long long> wholeNumber(const std::string& text, long long low, long long high);

// Table entries for the usual kinds of option.
CommandOption switchOption(std::string name, bool& flag);
CommandOption textOption(std::string name, std::string& text);
CommandOption textOption(std::string name, std::optional<std::string>& text);
// A whole number from `low` to `high`, handed to `store`; otherwise
// "NAME takes a whole number from LOW to HIGH, not 'VALUE'".
CommandOption wholeNumberOption(std::string name, long long low, long long high,
                                std::function<void(long long number)> store);

}  // namespace empricer
