// Market quotes (--quotes FILE), set beside the model's values: a CSV whose header names its
// columns S0, K and days and any of call, put, call_bid, call_ask, put_bid and put_ask (in any
// order and case, separated by commas or semicolons). A row of a run takes the quote whose S0, K
// and days equal its own as doubles. The file's lines are read as engine/quotes/quote_lines.h
// says; a line whose numbers cannot be prices (not finite, negative, a bid above its ask, a call
// above S0 or a put above K) is refused. A line that gives only the call of an S0, K and days
// and one that gives only its put are one quote (each side keeps its line); a side given by two
// lines is refused at the second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "engine/simulation/group_valuation.h"
#include "text/status.h"

namespace empricer {

struct QuoteColumns;

// The prices a line gives for one side: its bid and ask, or its one price as both (NaN for
// none).
struct QuoteRange {
  double bid = std::numeric_limits<double>::quiet_NaN();
  double ask = std::numeric_limits<double>::quiet_NaN();
  bool given() const { return bid == bid; }
};

// A quote as the book holds it: its keys, its prices and the line that gave it.
struct HeldQuote {
  double spot = 0.0;
  double strike = 0.0;
  double days = 0.0;
  MarketQuote quote;
  std::int64_t line = 0;  // the line of the call (of the quote, when one line gives both)
  QuoteRange call;
  QuoteRange put;
  std::int64_t putLine = 0;  // the line of the put
};

class QuoteBook {
 public:
  // Reads the file into a new book. Fails with the stop message when it cannot be opened or
  // read, or at the first line that is refused: "Error reading file: FILE: line N: " and what
  // is wrong there.
  Status load(const std::string& path);
  // The same from `bytes` in memory, named `name` in the messages, taken in pieces of at most
  // `piece` bytes (as a file's reads deliver them); the outcome does not depend on `piece`.
  Status read(std::string_view bytes, const std::string& name,
              std::size_t piece = std::numeric_limits<std::size_t>::max());
  // Whether the last load or read failed on what the file holds (a line refused, no header),
  // not on reading it.
  bool refused() const { return refused_; }
  // The quote of a row (none: both NaN). The price used is the mid (bid + ask) / 2 where the
  // line gives both, otherwise its call (put) column.
  MarketQuote find(double spot, double strike, std::int32_t days) const;
  // A row written: its quote, if any, counts as used.
  void noteRow(double spot, double strike, std::int32_t days);
  // The quotes held, in the order of their keys.
  std::vector<HeldQuote> held() const;
  // The report of the end of the run, each line ended: "empricer: FILE: U of Q quotes matched
  // no row; R of T rows had no quote", then, when there are any, the first few quote lines no
  // written row used and the first few written rows without a quote, with how many more.
  std::string reportText() const;

 private:
  using Key = std::tuple<double, double, double>;
  struct Entry {
    MarketQuote quote;
    std::int64_t line = 0;
    bool used = false;
    QuoteRange call;
    QuoteRange put;
    std::int64_t putLine = 0;  // the put's own line, when another line gave it (0: `line`)
  };
  // A quote line that matched no row: its keys, and the line it repeats (0 for none).
  struct Unmatched {
    std::int64_t line = 0;
    Key key;
    std::int64_t repeats = 0;
  };
  struct Reading;

  // Takes line `number` of the file; returns what is wrong with it, or nothing.
  std::string take(std::int64_t number, std::string_view line, QuoteColumns& columns);
  // The first few quote lines that matched no row, in line order.
  std::vector<Unmatched> firstUnmatched() const;

  std::string path_;
  bool refused_ = false;
  std::map<Key, Entry> quotes_;
  std::int64_t lines_ = 0;                // quote lines read
  std::int64_t ignored_ = 0;              // lines with a NaN key or a key read before
  std::vector<Unmatched> firstIgnored_;   // the first few of them
  std::int64_t rows_ = 0;                 // rows written
  std::int64_t rowsWithout_ = 0;          // of them, without a quote
  std::vector<Key> firstRowsWithout_;     // the first few of those
};

}  // namespace empricer
