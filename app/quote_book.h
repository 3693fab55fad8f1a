// Market quotes (--quotes FILE), set beside the model's values: a CSV whose header names its
// columns S0, K and days and any of call, put, call_bid, call_ask, put_bid and put_ask (in any
// order and case, separated by commas or semicolons). A row of a run takes the quote whose
// S0, K and days equal its own as doubles.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <tuple>

#include "engine/group_valuation.h"
#include "text/status.h"

namespace empricer {

class QuoteBook {
 public:
  // Reads the file. Fails with the stop message when it cannot be opened or a line does not
  // read.
  Status load(const std::string& path);
  // The quote of a row (none: both NaN). The price used is the mid (bid + ask) / 2 where the
  // line gives both, otherwise its call (put) column.
  MarketQuote find(double spot, double strike, std::int32_t days) const;
  // A row written: its quote, if any, counts as used.
  void noteRow(double spot, double strike, std::int32_t days);
  // On standard error: the quotes no written row used and the written rows without a quote.
  void report() const;

 private:
  using Key = std::tuple<double, double, double>;
  struct Entry {
    MarketQuote quote;
    bool used = false;
  };
  std::string path_;
  std::map<Key, Entry> quotes_;
  std::int64_t lines_ = 0;        // quote lines read
  std::int64_t ignored_ = 0;      // lines with a NaN key or a key read before
  std::int64_t rows_ = 0;         // rows written
  std::int64_t rowsWithout_ = 0;  // of them, without a quote
};

}  // namespace empricer
