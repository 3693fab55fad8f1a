#include "engine/quotes/quote_book.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

#include "engine/quotes/quote_lines.h"
#include "text/number_text.h"

namespace empricer {

namespace {

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
// How many unmatched quote lines, and rows without a quote, the report names.
constexpr std::size_t kNamed = 5;

enum Column { kSpot, kStrike, kDays, kCall, kPut, kCallBid, kCallAsk, kPutBid, kPutAsk, kCount };
const char* const kColumnNames[kCount] = {"s0",       "k",        "days",    "call",   "put",
                                          "call_bid", "call_ask", "put_bid", "put_ask"};

std::string trimmed(std::string_view text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && std::isspace(static_cast<unsigned char>(text[first])) != 0) ++first;
  while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1])) != 0) --last;
  return std::string(text.substr(first, last - first));
}

std::vector<std::string> fieldsOf(std::string_view line, char separator) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = line.find(separator, start);
    fields.push_back(trimmed(line.substr(start, end - start)));
    if (end == std::string_view::npos) return fields;
    start = end + 1;
  }
}

// A number in C notation; with semicolons between fields, a decimal comma as well. Empty: no
// price (NaN). Returns what is wrong with the text, or nothing.
std::string numberOf(std::string text, char separator, double& value) {
  value = kNone;
  if (text.empty()) return {};
  const std::string shown = "'" + text + "'";
  if (separator == ';' && text.find('.') == std::string::npos) {
    std::replace(text.begin(), text.end(), ',', '.');
  }
  const char* begin = text.data() + (text[0] == '+' ? 1 : 0);
  const char* end = text.data() + text.size();
  if (begin != text.data() && begin != end && (*begin == '+' || *begin == '-')) {
    return shown + " is not a number";  // two signs
  }
  const auto [ptr, error] = std::from_chars(begin, end, value);
  if (error == std::errc::result_out_of_range && ptr == end) {
    value = kNone;
    return shown + " is out of the range of a double";
  }
  if (error != std::errc() || ptr != end) {
    value = kNone;
    return shown + " is not a number";
  }
  if (!std::isfinite(value)) return shown + " is not a finite number";
  return {};
}

}  // namespace

// The header's columns: where each named column stands (-1: none), and its name as written.
struct QuoteColumns {
  int at[kCount] = {-1, -1, -1, -1, -1, -1, -1, -1, -1};
  std::string names[kCount];
  char separator = ',';
  bool found = false;  // the header has been read
};

namespace {

std::string readHeader(std::string_view line, QuoteColumns& columns) {
  columns.found = true;
  if (line.find(';') != std::string_view::npos) columns.separator = ';';
  const std::vector<std::string> fields = fieldsOf(line, columns.separator);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    std::string name = fields[i];
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (int c = 0; c < kCount; ++c) {
      if (name != kColumnNames[c] || columns.at[c] >= 0) continue;
      columns.at[c] = static_cast<int>(i);
      columns.names[c] = fields[i];
    }
  }
  for (const int c : {kSpot, kStrike, kDays}) {
    if (columns.at[c] < 0) {
      return std::string("the header names no column ") +
             (c == kSpot ? "S0" : c == kStrike ? "K" : "days");
    }
  }
  return {};
}

// What is wrong with the prices of a line whose fields read as `value` (NaN: none): a negative
// price, a bid above its ask (or a pair too large for a mid), a call above S0 or a put above K.
std::string priceProblem(const QuoteColumns& columns, const std::vector<std::string>& fields,
                         const double (&value)[kCount]) {
  // Only a column whose field holds a number is named: every comparison with NaN is false.
  const auto named = [&](int c) {
    return columns.names[c] + " '" + fields[static_cast<std::size_t>(columns.at[c])] + "'";
  };
  for (int c = kCall; c < kCount; ++c) {
    if (value[c] < 0.0) return "the " + named(c) + " is negative";
  }
  for (const auto& [bid, ask] : {std::pair{kCallBid, kCallAsk}, std::pair{kPutBid, kPutAsk}}) {
    if (value[bid] > value[ask]) return "the " + named(bid) + " is above the " + named(ask);
    if (std::isinf(value[bid] + value[ask])) {
      return "the " + named(bid) + " and the " + named(ask) + " have no finite mid";
    }
  }
  for (const int c : {kCall, kCallBid, kCallAsk}) {
    if (value[c] > value[kSpot]) return "the " + named(c) + " is above " + named(kSpot);
  }
  for (const int c : {kPut, kPutBid, kPutAsk}) {
    if (value[c] > value[kStrike]) return "the " + named(c) + " is above " + named(kStrike);
  }
  return {};
}

// The numbers of a data line into `value`; returns what is wrong with them, or nothing.
std::string valuesOf(std::string_view line, const QuoteColumns& columns, double (&value)[kCount]) {
  const std::vector<std::string> fields = fieldsOf(line, columns.separator);
  for (int c = 0; c < kCount; ++c) {
    value[c] = kNone;
    const auto at = static_cast<std::size_t>(columns.at[c]);
    if (columns.at[c] < 0 || at >= fields.size()) continue;
    if (std::string wrong = numberOf(fields[at], columns.separator, value[c]); !wrong.empty()) {
      return wrong;
    }
  }
  return priceProblem(columns, fields, value);
}

std::string keyText(double spot, double strike, double days) {
  const auto part = [](const char* name, double value) {
    if (std::isnan(value)) return std::string("no ") + name;
    std::string text(name);
    text += ' ';
    appendShortest(text, value);
    return text;
  };
  return part("S0", spot) + ", " + part("K", strike) + ", " + part("days", days);
}

std::string moreText(std::int64_t all, std::size_t named) {
  const std::int64_t more = all - static_cast<std::int64_t>(named);
  return more > 0 ? "; and " + std::to_string(more) + " more" : std::string();
}

}  // namespace

// The state of one reading: the header's columns and the lines so far.
struct QuoteBook::Reading {
  explicit Reading(QuoteBook& book)
      : take([&book, this](std::int64_t number, std::string_view line) {
          return book.take(number, line, columns);
        }) {}
  Reading(const Reading&) = delete;
  Reading& operator=(const Reading&) = delete;

  // The outcome, with `wrong` what the pieces found wrong (nothing: the file ended well).
  Status end(QuoteBook& book, const std::string& name, std::string wrong) {
    if (wrong.empty()) wrong = lines.finish(take);
    book.refused_ = !wrong.empty() || !columns.found;
    if (!wrong.empty()) return readFailure(name, wrong);
    if (!columns.found) return readFailure(name, "no header line");
    return {};
  }

  QuoteColumns columns;
  QuoteLines lines;
  QuoteLineTaker take;
};

std::string QuoteBook::take(std::int64_t number, std::string_view line, QuoteColumns& columns) {
  if (trimmed(line).empty()) return {};
  if (!columns.found) return readHeader(line, columns);
  double value[kCount];
  if (std::string wrong = valuesOf(line, columns, value); !wrong.empty()) return wrong;
  ++lines_;
  const auto priceOf = [&](int single, int bid, int ask) {
    if (!std::isnan(value[bid]) && !std::isnan(value[ask])) return (value[bid] + value[ask]) / 2.0;
    return value[single];
  };
  const MarketQuote quote{priceOf(kCall, kCallBid, kCallAsk), priceOf(kPut, kPutBid, kPutAsk)};
  const auto rangeOf = [&](int single, int bid, int ask) {
    if (!std::isnan(value[bid]) && !std::isnan(value[ask])) return QuoteRange{value[bid], value[ask]};
    return QuoteRange{value[single], value[single]};
  };
  const Key key{value[kSpot], value[kStrike], value[kDays]};
  std::int64_t repeats = 0;
  if (!std::isnan(value[kSpot]) && !std::isnan(value[kStrike]) && !std::isnan(value[kDays])) {
    const QuoteRange call = rangeOf(kCall, kCallBid, kCallAsk);
    const QuoteRange put = rangeOf(kPut, kPutBid, kPutAsk);
    const auto [at, added] = quotes_.emplace(key, Entry{quote, number, false, call, put, 0});
    if (added) return {};
    Entry& entry = at->second;
    // A call on one line and the put of the same S0, K and days on another are one quote; a
    // side given twice is a duplicate, refused at its line.
    const bool callTwice = call.given() && entry.call.given();
    const bool putTwice = put.given() && entry.put.given();
    if (callTwice || putTwice) {
      return std::string("the ") + (callTwice ? "call" : "put") +
             " of this S0, K and days is given on line " +
             std::to_string(callTwice ? entry.line : entry.putLine != 0 ? entry.putLine : entry.line) +
             " already: one line a side, or one line with both";
    }
    if (call.given()) {
      entry.call = call;
      entry.quote.call = quote.call;
      if (!entry.put.given() && put.given()) entry.put = put;
      // The quote's line is the call's; the put keeps its own.
      entry.putLine = entry.putLine != 0 ? entry.putLine : entry.line;
      entry.line = number;
      return {};
    }
    if (put.given()) {
      entry.put = put;
      entry.quote.put = quote.put;
      entry.putLine = number;
      return {};
    }
    repeats = entry.line;
  }
  ++ignored_;
  if (firstIgnored_.size() < kNamed) firstIgnored_.push_back(Unmatched{number, key, repeats});
  return {};
}

Status QuoteBook::load(const std::string& path) {
  *this = QuoteBook();
  path_ = path;
  const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return openFailure(path);
  Reading reading(*this);
  std::string wrong;
  bool failed = false;
  char block[65536];
  while (wrong.empty()) {
    const ssize_t got = ::read(file, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    failed = got < 0;  // a directory, or a failing read
    if (got <= 0) break;
    wrong = reading.lines.feed(std::string_view(block, static_cast<std::size_t>(got)),
                               reading.take);
  }
  ::close(file);
  if (failed) return readFailure(path);
  return reading.end(*this, path, std::move(wrong));
}

Status QuoteBook::read(std::string_view bytes, const std::string& name, std::size_t piece) {
  *this = QuoteBook();
  path_ = name;
  Reading reading(*this);
  piece = std::max<std::size_t>(piece, 1);
  std::string wrong;
  while (wrong.empty() && !bytes.empty()) {
    const std::size_t size = std::min(piece, bytes.size());
    wrong = reading.lines.feed(bytes.substr(0, size), reading.take);
    bytes.remove_prefix(size);
  }
  return reading.end(*this, name, std::move(wrong));
}

MarketQuote QuoteBook::find(double spot, double strike, std::int32_t days) const {
  const auto found = quotes_.find(Key{spot, strike, static_cast<double>(days)});
  return found != quotes_.end() ? found->second.quote : MarketQuote{};
}

void QuoteBook::noteRow(double spot, double strike, std::int32_t days) {
  ++rows_;
  const Key key{spot, strike, static_cast<double>(days)};
  const auto found = quotes_.find(key);
  if (found != quotes_.end()) {
    found->second.used = true;
    return;
  }
  ++rowsWithout_;
  if (firstRowsWithout_.size() < kNamed) firstRowsWithout_.push_back(key);
}

std::vector<HeldQuote> QuoteBook::held() const {
  std::vector<HeldQuote> out;
  out.reserve(quotes_.size());
  for (const auto& [key, entry] : quotes_) {
    out.push_back(HeldQuote{std::get<0>(key), std::get<1>(key), std::get<2>(key), entry.quote,
                            entry.line, entry.call, entry.put,
                            entry.putLine != 0 ? entry.putLine : entry.line});
  }
  return out;
}

std::vector<QuoteBook::Unmatched> QuoteBook::firstUnmatched() const {
  std::vector<Unmatched> first = firstIgnored_;
  const auto earlier = [](const Unmatched& a, const Unmatched& b) { return a.line < b.line; };
  for (const auto& [key, entry] : quotes_) {
    if (entry.used) continue;
    const Unmatched unmatched{entry.line, key, 0};
    const auto at = std::upper_bound(first.begin(), first.end(), unmatched, earlier);
    if (static_cast<std::size_t>(at - first.begin()) >= kNamed) continue;
    first.insert(at, unmatched);
    if (first.size() > kNamed) first.pop_back();
  }
  return first;
}

std::string QuoteBook::reportText() const {
  std::int64_t unused = ignored_;
  for (const auto& [key, entry] : quotes_) unused += entry.used ? 0 : 1;
  const std::string head = "empricer: " + path_ + ": ";
  std::string text = head + std::to_string(unused) + " of " + std::to_string(lines_) +
                     " quotes matched no row; " + std::to_string(rowsWithout_) + " of " +
                     std::to_string(rows_) + " rows had no quote\n";
  if (unused > 0) {
    const std::vector<Unmatched> first = firstUnmatched();
    text += head + "quotes that matched no row: ";
    for (std::size_t i = 0; i < first.size(); ++i) {
      const auto& [spot, strike, days] = first[i].key;
      text += (i > 0 ? "; line " : "line ") + std::to_string(first[i].line) + " (" +
              keyText(spot, strike, days) +
              (first[i].repeats > 0 ? ", as on line " + std::to_string(first[i].repeats) : "") +
              ")";
    }
    text += moreText(unused, first.size()) + "\n";
  }
  if (rowsWithout_ > 0) {
    text += head + "rows that had no quote: ";
    for (std::size_t i = 0; i < firstRowsWithout_.size(); ++i) {
      const auto& [spot, strike, days] = firstRowsWithout_[i];
      text += (i > 0 ? "; (" : "(") + keyText(spot, strike, days) + ")";
    }
    text += moreText(rowsWithout_, firstRowsWithout_.size()) + "\n";
  }
  return text;
}

}  // namespace empricer
