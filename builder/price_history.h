// A price history in a delimited text file with a header line, the returns per step between
// its consecutive prices, and the gaps between its sessions.
#pragma once

#include "text/input_stream.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/status.h"

namespace empricer {

// Which columns to read, and whether jumps are taken.
struct PriceReading {
  // The price column; nothing: the adjusted close, else the close, the last or the price, as
  // priceColumnOf chooses.
  std::optional<std::string> price;
  // The column whose change of key (sessionKey) starts a new session; nothing: the file is
  // one session.
  std::optional<std::string> session;
  // Takes the returns and gaps that lie beyond the limits below (--allow-jumps).
  bool allowJumps = false;
};

// Without allowJumps, p[t] / p[t - 1] - 1 lies within +-kMostMove, and p[t] / p[t - 1] lies
// more than kSplitTolerance (relatively) from every ratio of kSplitRatios, for returns and
// gaps alike: a move beyond either is taken for a split left unadjusted or a wrong column.
constexpr double kMostMove = 0.5;
constexpr double kSplitTolerance = 0.01;
struct SplitRatio {
  double ratio;      // the price after over the price before
  const char* name;  // the split that makes it
};
inline constexpr SplitRatio kSplitRatios[] = {
    {1.0 / 2, "2-for-1 split"},          {1.0 / 3, "3-for-1 split"},
    {2.0 / 3, "3-for-2 split"},          {1.0 / 4, "4-for-1 split"},
    {1.0 / 5, "5-for-1 split"},          {1.0 / 7, "7-for-1 split"},
    {1.0 / 10, "10-for-1 split"},        {2.0, "1-for-2 reverse split"},
    {3.0, "1-for-3 reverse split"},      {3.0 / 2, "2-for-3 reverse split"},
    {4.0, "1-for-4 reverse split"},      {5.0, "1-for-5 reverse split"},
    {7.0, "1-for-7 reverse split"},      {10.0, "1-for-10 reverse split"}};
// With allowJumps too, no return or gap is above kMostJump: the fourth powers of the returns'
// deviations, summed over the 32768 draws of a table, stay finite.
constexpr double kMostJump = 1e70;

// The key of a session field: a field that holds a date and a time is keyed by its date, the
// text before the first blank (a space or a tab) or before a 'T' that follows a digit,
// whichever comes first; "11/5/2019 9:30" and "2019-11-05T09:30:00Z" give "11/5/2019" and
// "2019-11-05". Any other field is its own key.
std::string_view sessionKey(std::string_view field);

// Whether a session key is a date: three groups of digits joined by one of '-', '/' or '.'
// ("2019-11-05", "11/5/2019", "05.11.2019").
bool looksLikeDate(std::string_view key);

// Without a session column, a column of dates (or of dates and times) whose date changes
// within the file while some date holds more than one price: the moves from one date's last
// price to the next date's first are counted as returns.
struct UnsessionedDates {
  std::string column;      // as the header writes it
  std::int64_t dates = 0;  // runs of one date, in file order
  std::string first;       // the first date and the last
  std::string last;
};

// A history whose dates hold one price each: daily closes.
struct DailyDates {
  std::int64_t dates = 0;
  std::string first;  // the first date and the last, in the order read
  std::string last;
};

struct PriceHistory {
  std::string priceColumn;  // the price column's name as the header writes it
  // Notes for standard error, without the program's name: which column was taken for the
  // price when the choice was not plain, and a history read oldest first after the file gave
  // it newest first.
  std::vector<std::string> notes;
  // When the file's timestamps are read (a column of dates, with or without times): daily
  // closes, one price a date.
  std::optional<DailyDates> daily;
  // When the timestamps hold times of day: the median spacing of consecutive prices of one
  // date, in seconds.
  std::optional<double> barSeconds;
  std::int64_t priceCount = 0;
  std::int64_t sessionCount = 0;
  // p[t] / p[t - 1] - 1 for consecutive prices of the same session, in file order.
  std::vector<double> returns;
  // How many of the returns each session holds, in file order (one entry without sessions).
  std::vector<std::int64_t> sessionReturns;
  // The gaps: p[t] / p[t - 1] - 1 where p[t] is the first price of a session and p[t - 1] the
  // last of the one before, in file order.
  std::vector<double> gaps;
  // Without a session column: the first column whose first row holds a date, when its dates
  // change within the file and some date holds more than one price.
  std::optional<UnsessionedDates> unsessionedDates;
  // Without a session column, when the first column whose first row holds a date changes date
  // within the file: how many of the returns end at a price of each date, in file order (the
  // move from one date's last price to the next date's first counts for the later date, so
  // the first date holds one return fewer than it has prices). Empty otherwise.
  std::vector<std::int64_t> dateReturns;
};

// The price column, unless given (matched without regard to case), is the first column named
// like an adjusted close ("adj close", "adj_close", "adjusted close", any case), else "close",
// "last" or "price", in that order. Never a column of volumes, open interest or dates, given
// or not.

// Reads the history from the bytes of a price file (lines as TextLines splits them, after a
// byte-order mark at the start); `name` is the file's name in the messages. Fails with one
// line naming the file and the line: a 0x00 or 0x1A byte, no header, a column that the header
// lacks (naming the columns it has), no price column, a line with more or fewer fields than
// the header, a price that is not a number or not finite and positive, timestamps that repeat
// or go back in time (a file whose timestamps all run newest first is read in reverse, with a
// note), a return or a gap that is not finite, beyond the limits above without allowJumps, or
// above kMostJump; fewer than two returns, or returns that are all equal.
Outcome<PriceHistory> readPriceHistory(std::string_view bytes, const std::string& name,
                                       const PriceReading& reading);

// The same from the file at `path`; also fails when it cannot be opened or read.
Outcome<PriceHistory> loadPriceHistory(const std::string& path, const PriceReading& reading);

}  // namespace empricer
