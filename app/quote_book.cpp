#include "app/quote_book.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace empricer {

namespace {

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

std::string trimmed(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && std::isspace(static_cast<unsigned char>(text[first])) != 0) ++first;
  while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1])) != 0) --last;
  return text.substr(first, last - first);
}

std::vector<std::string> fieldsOf(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = line.find(separator, start);
    fields.push_back(trimmed(line.substr(start, end - start)));
    if (end == std::string::npos) return fields;
    start = end + 1;
  }
}

// A number in C notation; with semicolons between fields, a decimal comma as well. Empty: NaN.
bool numberOf(std::string text, char separator, double& value) {
  if (text.empty()) {
    value = kNone;
    return true;
  }
  if (separator == ';' && text.find('.') == std::string::npos) {
    std::replace(text.begin(), text.end(), ',', '.');
  }
  const char* begin = text.data() + (text[0] == '+' ? 1 : 0);
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(begin, end, value);
  return error == std::errc() && ptr == end;
}

}  // namespace

Status QuoteBook::load(const std::string& path) {
  path_ = path;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return openFailure(path);
  std::string text;
  char buffer[65536];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    text.append(buffer, got);
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return readFailure(path);
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);

  enum Column { kSpot, kStrike, kDays, kCall, kPut, kCallBid, kCallAsk, kPutBid, kPutAsk, kCount };
  const char* const names[kCount] = {"s0",       "k",        "days",    "call",  "put",
                                     "call_bid", "call_ask", "put_bid", "put_ask"};
  int at[kCount];
  std::fill(std::begin(at), std::end(at), -1);
  char separator = ',';
  bool header = true;
  std::int64_t lineNumber = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (trimmed(line).empty()) continue;
    auto problem = [&](const std::string& what) {
      return readFailure(path, "line " + std::to_string(lineNumber) + ": " + what);
    };
    if (header) {
      header = false;
      if (line.find(';') != std::string::npos) separator = ';';
      const std::vector<std::string> fields = fieldsOf(line, separator);
      for (std::size_t i = 0; i < fields.size(); ++i) {
        std::string name = fields[i];
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        for (int c = 0; c < kCount; ++c) {
          if (name == names[c] && at[c] < 0) at[c] = static_cast<int>(i);
        }
      }
      for (int c : {kSpot, kStrike, kDays}) {
        if (at[c] < 0) return problem(std::string("the header names no column ") + (c == kSpot ? "S0" : c == kStrike ? "K" : "days"));
      }
      continue;
    }
    const std::vector<std::string> fields = fieldsOf(line, separator);
    double value[kCount];
    for (int c = 0; c < kCount; ++c) {
      value[c] = kNone;
      if (at[c] < 0 || static_cast<std::size_t>(at[c]) >= fields.size()) continue;
      if (!numberOf(fields[static_cast<std::size_t>(at[c])], separator, value[c])) {
        return problem("'" + fields[static_cast<std::size_t>(at[c])] + "' is not a number");
      }
    }
    ++lines_;
    auto priceOf = [&](int single, int bid, int ask) {
      if (!std::isnan(value[bid]) && !std::isnan(value[ask])) return (value[bid] + value[ask]) / 2.0;
      return value[single];
    };
    const MarketQuote quote{priceOf(kCall, kCallBid, kCallAsk), priceOf(kPut, kPutBid, kPutAsk)};
    const Key key{value[kSpot], value[kStrike], value[kDays]};
    if (std::isnan(value[kSpot]) || std::isnan(value[kStrike]) || std::isnan(value[kDays]) ||
        !quotes_.emplace(key, Entry{quote, false}).second) {
      ++ignored_;
    }
  }
  if (header) return readFailure(path, "no header line");
  return {};
}

MarketQuote QuoteBook::find(double spot, double strike, std::int32_t days) const {
  const auto found = quotes_.find(Key{spot, strike, static_cast<double>(days)});
  return found != quotes_.end() ? found->second.quote : MarketQuote{};
}

void QuoteBook::noteRow(double spot, double strike, std::int32_t days) {
  ++rows_;
  const auto found = quotes_.find(Key{spot, strike, static_cast<double>(days)});
  if (found == quotes_.end()) {
    ++rowsWithout_;
  } else {
    found->second.used = true;
  }
}

void QuoteBook::report() const {
  std::int64_t unused = ignored_;
  for (const auto& [key, entry] : quotes_) unused += entry.used ? 0 : 1;
  std::fprintf(stderr,
               "empricer: %s: %lld of %lld quotes matched no row; %lld of %lld rows had no "
               "quote\n",
               path_.c_str(), static_cast<long long>(unused), static_cast<long long>(lines_),
               static_cast<long long>(rowsWithout_), static_cast<long long>(rows_));
  std::fflush(stderr);
}

}  // namespace empricer
