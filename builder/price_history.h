// A price history in a delimited text file with a header line, the returns per step between
// its consecutive prices, and the gaps between its sessions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/status.h"
#include "text/input_stream.h"

namespace empricer {

// Which columns to read. Names match the header without regard to case.
struct PriceColumns {
  // The price column; nothing: a column named "close", or else the last column.
  std::optional<std::string> price;
  // The column whose change of key (sessionKey) starts a new session; nothing: the file is
  // one session.
  std::optional<std::string> session;
};

// The key of a session field: a field that holds a date and a time is keyed by its date, the
// text before the first blank (a space or a tab) or before a 'T' that follows a digit,
// whichever comes first; "11/5/2019 9:30" and "2019-11-05T09:30:00Z" give "11/5/2019" and
// "2019-11-05". Any other field is its own key.
std::string_view sessionKey(std::string_view field);

struct PriceHistory {
  std::string priceColumn;  // the price column's name as the header writes it
  std::int64_t priceCount = 0;
  std::int64_t sessionCount = 0;
  // p[t] / p[t - 1] - 1 for consecutive prices of the same session, in file order.
  std::vector<double> returns;
  // How many of the returns each session holds, in file order (one entry without sessions).
  std::vector<std::int64_t> sessionReturns;
  // The gaps: p[t] / p[t - 1] - 1 where p[t] is the first price of a session and p[t - 1] the
  // last of the one before, in file order.
  std::vector<double> gaps;
};

// Reads the history from the lines of `stream`; `name` is the file's name in the messages.
// Fails with one line naming the file and the line: no header, a column that the header lacks,
// a line without the field, a price that is not a number or not finite and positive, a return
// or a gap that is not finite, fewer than two returns, or returns that are all equal.
Outcome<PriceHistory> readPriceHistory(InputStream& stream, const std::string& name,
                                       const PriceColumns& columns);

// The same from the file at `path`; also fails when it cannot be opened.
Outcome<PriceHistory> loadPriceHistory(const std::string& path, const PriceColumns& columns);

}  // namespace empricer
