// A price history in a delimited text file with a header line, and the returns per step
// between its consecutive prices.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/outcome.h"
#include "text/input_stream.h"

// Which columns to read. Names match the header without regard to case.
struct PriceColumns {
  // The price column; nothing: a column named "close", or else the last column.
  std::optional<std::string> price;
  // The column whose change starts a new session; nothing: the file is one session.
  std::optional<std::string> session;
};

struct PriceHistory {
  std::string priceColumn;  // the price column's name as the header writes it
  std::int64_t priceCount = 0;
  std::int64_t sessionCount = 0;
  // p[t] / p[t - 1] - 1 for consecutive prices of the same session, in file order.
  std::vector<double> returns;
};

// Reads the history from the lines of `stream`; `name` is the file's name in the messages.
// Fails with one line naming the file and the line: no header, a column that the header lacks,
// a line without the field, a price that is not a number or not finite and positive, a return
// that is not finite, fewer than two returns, or returns that are all equal.
Outcome<PriceHistory> readPriceHistory(InputStream& stream, const std::string& name,
                                       const PriceColumns& columns);

// The same from the file at `path`; also fails when it cannot be opened.
Outcome<PriceHistory> loadPriceHistory(const std::string& path, const PriceColumns& columns);
