#include "text/command_line.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace empricer {

ReadCommandLine readCommandLine(const std::vector<std::string>& args, const CommandLineForm& form) {
  ReadCommandLine read;
  const auto fail = [&read](std::string problem) {
    read.problem = Failure{std::move(problem)};
    return read;
  };
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
      continue;
    }
    const bool longOption = !optionsEnded && arg.size() > 2 && arg.compare(0, 2, "--") == 0;
    if (!longOption) {
      if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
        return fail("unexpected argument '" + arg + "'");
      }
      if (read.operands.size() == form.mostOperands) {
        return fail("unexpected argument '" + arg + "'");
      }
      read.operands.push_back(arg);
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const auto option = std::find_if(form.options.begin(), form.options.end(),
                                     [&name](const CommandOption& o) { return o.name == name; });
    if (option == form.options.end()) return fail("unrecognized option '" + name + "'");
    std::string value;
    if (!option->takesValue) {
      if (equals != std::string::npos) return fail("option '" + name + "' takes no value");
    } else if (equals != std::string::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return fail("option '" + name + "' needs a value");
    }
    if (option->takesValue && value.empty() && !form.emptyValues) {
      return fail("option '" + name + "' needs a non-empty value");
    }
    if (CommandLineProblem problem = option->take(value); !problem.ok()) {
      return fail(problem.message());
    }
    if (option->endsLine) break;
  }
  return read;
}

std::optional<long long> wholeNumber(const std::string& text, long long low, long long high) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  if (begin == end || *begin < '0' || *begin > '9') return std::nullopt;
  long long value = 0;
  const auto [ptr, error] = std::from_chars(begin, end, value);
  if (error != std::errc() || ptr != end || value < low || value > high) return std::nullopt;
  return value;
}

CommandOption switchOption(std::string name, bool& flag) {
  return {std::move(name), false, [&flag](const std::string&) -> CommandLineProblem {
            flag = true;
            return {};
          }};
}

CommandOption textOption(std::string name, std::string& text) {
  return {std::move(name), true, [&text](const std::string& value) -> CommandLineProblem {
            text = value;
            return {};
          }};
}

CommandOption textOption(std::string name, std::optional<std::string>& text) {
  return {std::move(name), true, [&text](const std::string& value) -> CommandLineProblem {
            text = value;
            return {};
          }};
}

CommandOption wholeNumberOption(std::string name, long long low, long long high,
                                std::function<void(long long number)> store) {
  return {name, true,
          [=, store = std::move(store)](const std::string& value) -> CommandLineProblem {
            const std::optional<long long> number = wholeNumber(value, low, high);
            if (!number) {
              return Failure{name + " takes a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", not '" + value + "'"};
            }
            store(*number);
            return {};
          }};
}

}  // namespace empricer
