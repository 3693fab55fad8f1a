#include "builder/price_history.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "builder/csv_fields.h"
#include "builder/history_stamps.h"

namespace empricer {

namespace {

char lowered(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lowered(a[i]) != lowered(b[i])) return false;
  }
  return true;
}

std::optional<std::size_t> columnNamed(const std::vector<std::string>& header,
                                       const std::string& name) {
  for (std::size_t i = 0; i < header.size(); ++i) {
    if (sameName(header[i], name)) return i;
  }
  return std::nullopt;
}

std::string where(const std::string& name, std::int64_t line) {
  return name + ":" + std::to_string(line) + ": ";
}

std::string fieldLabel(std::size_t index, const std::string& columnName) {
  return "field " + std::to_string(index + 1) + " (" + columnName + ")";
}

std::string countOf(std::int64_t count, const char* singular, const char* plural) {
  return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

// A ratio or a return in a message, to six significant digits.
std::string shortNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

// The header's columns, quoted, for a message: the first kColumnsNamed of them and a count of
// the rest.
constexpr std::size_t kColumnsNamed = 20;
std::string columnsOf(const std::vector<std::string>& header) {
  std::string text = header.size() == 1 ? "the only column is " : "the columns are ";
  for (std::size_t i = 0; i < header.size() && i < kColumnsNamed; ++i) {
    if (i > 0) text += ", ";
    text += "'" + header[i] + "'";
  }
  if (header.size() > kColumnsNamed) {
    text += " and " + std::to_string(header.size() - kColumnsNamed) + " more";
  }
  return text;
}

// A column name lowered, without blanks, '_', '-' or '.': "Adj Close" and "adj_close" give
// "adjclose".
std::string plainName(const std::string& name) {
  std::string plain;
  for (const char c : name) {
    if (c != ' ' && c != '\t' && c != '_' && c != '-' && c != '.') plain += lowered(c);
  }
  return plain;
}

bool isOneOf(const std::string& plain, std::initializer_list<const char*> names) {
  for (const char* n : names) {
    if (plain == n) return true;
  }
  return false;
}

bool adjustedCloseName(const std::string& plain) {
  return isOneOf(plain, {"adjclose", "adjustedclose", "adjclose*", "adjustedcloseprice"});
}

// Names of columns that hold prices, beside the ones chosen by default.
bool priceName(const std::string& plain) {
  return adjustedCloseName(plain) ||
         isOneOf(plain, {"close", "last", "price", "open", "high", "low", "mid", "bid", "ask",
                         "settle", "settlement", "vwap", "closeprice", "lastprice", "adjprice"});
}

// What a column that holds no prices holds, when its name says: volumes, open interest or
// dates and times.
const char* notPrices(const std::string& plain) {
  if (isOneOf(plain, {"volume", "vol", "totalvolume", "tickvolume", "realvolume"})) {
    return "volumes";
  }
  if (isOneOf(plain, {"openinterest", "openint", "oi"})) return "open interest";
  if (isOneOf(plain, {"date", "time", "datetime", "timestamp", "day"})) return "dates and times";
  return nullptr;
}

struct Columns {
  std::size_t price = 0;
  bool isPrice = false;  // the price column's name says it holds prices
  std::optional<std::string> note;
  std::optional<std::size_t> session;
};

// The price column and the session column of the header on line `line`.
Outcome<Columns> columnsFor(const std::vector<std::string>& header, const PriceReading& reading,
                            const std::string& name, std::int64_t line) {
  Columns columns;
  const auto missing = [&](const char* what, const std::string& column) {
    return Failure{where(name, line) + "no " + what + "column named '" + column + "'; " +
                   columnsOf(header)};
  };
  if (reading.price) {
    const auto found = columnNamed(header, *reading.price);
    if (!found) return missing("", *reading.price);
    if (const char* held = notPrices(plainName(header[*found]))) {
      return Failure{where(name, line) + "column '" + header[*found] + "' holds " + held +
                     ", not prices; --column names the price column; " + columnsOf(header)};
    }
    columns.price = *found;
    columns.isPrice = priceName(plainName(header[*found]));
  } else {
    std::optional<std::size_t> adjusted;
    std::optional<std::size_t> close;
    std::optional<std::size_t> other;  // last, else price
    for (std::size_t i = 0; i < header.size(); ++i) {
      const std::string plain = plainName(header[i]);
      if (!adjusted && adjustedCloseName(plain)) adjusted = i;
      if (!close && plain == "close") close = i;
    }
    for (const char* n : {"last", "price"}) {
      for (std::size_t i = 0; i < header.size() && !other; ++i) {
        if (plainName(header[i]) == n) other = i;
      }
    }
    if (adjusted) {
      columns.price = *adjusted;
      if (close) {
        columns.note = "note: the price is column '" + header[*adjusted] +
                       "', the closes adjusted for splits and dividends, not '" +
                       header[*close] + "'; --column " + header[*close] +
                       " takes the closes as traded";
      }
    } else if (close) {
      columns.price = *close;
    } else if (other) {
      columns.price = *other;
      columns.note = "note: the price is column '" + header[*other] +
                     "' (no column is named close)";
    } else {
      return Failure{where(name, line) +
                     "no price column: none is named close, last, price or adj close; " +
                     columnsOf(header) + "; --column names the price column"};
    }
    columns.isPrice = true;
  }
  if (reading.session) {
    columns.session = columnNamed(header, *reading.session);
    if (!columns.session) return missing("session ", *reading.session);
  }
  return columns;
}

// One row of prices as read, before any return is taken.
struct PriceRow {
  std::int64_t line = 0;
  double price = 0.0;
  std::string session;  // the session key, with a session column
  std::string date;     // the key of the column of dates, when there is one
  std::string time;     // the time of day as written, when there is one
};

// The runs of one date in a column of dates, followed without a session column.
struct DateRuns {
  std::int64_t runs = 0;
  std::vector<std::int64_t> returns;  // ending at each run's prices
  std::string first;
  std::string last;
};

void followDates(DateRuns& dates, const std::string& key, bool firstRow) {
  if (firstRow) dates.first = key;
  if (dates.runs == 0 || key != dates.last) {
    ++dates.runs;
    dates.last = key;
    dates.returns.push_back(0);
  }
  if (!firstRow) ++dates.returns.back();
}

// A ratio as a percentage move for a message: "+150%", "-62.5%".
std::string moveText(double ratio) {
  char text[40];
  std::snprintf(text, sizeof text, "%+g%%", (ratio - 1.0) * 100.0);
  return text;
}

// The split whose ratio lies within kSplitTolerance of `ratio`, if any.
const SplitRatio* splitNear(double ratio) {
  for (const SplitRatio& split : kSplitRatios) {
    if (std::fabs(ratio / split.ratio - 1.0) <= kSplitTolerance) return &split;
  }
  return nullptr;
}

// The timestamps of the rows, in seconds (or in days, when some row has no time of day),
// when every row's date reads as one; the unit of one day.
struct RowStamps {
  std::vector<double> at;
  bool withTimes = false;
};

std::optional<RowStamps> stampsOf(const std::vector<PriceRow>& rows) {
  if (rows.empty() || rows.front().date.empty()) return std::nullopt;
  std::vector<std::string> keys;
  keys.reserve(rows.size());
  for (const PriceRow& row : rows) keys.push_back(row.date);
  const std::optional<DateOrder> order = dateOrderOf(keys);
  if (!order) return std::nullopt;
  RowStamps stamps;
  stamps.withTimes = true;
  std::vector<double> days;
  for (const PriceRow& row : rows) {
    const std::optional<std::int64_t> day = dayNumber(row.date, *order);
    if (!day) return std::nullopt;
    days.push_back(static_cast<double>(*day));
    const std::optional<double> seconds =
        row.time.empty() ? std::nullopt : secondsOfDay(row.time);
    if (seconds) {
      stamps.at.push_back(static_cast<double>(*day) * 86400.0 + *seconds);
    } else {
      stamps.withTimes = false;
    }
  }
  if (!stamps.withTimes) stamps.at = std::move(days);
  return stamps;
}

std::string stampText(const PriceRow& row, bool withTime) {
  return withTime && !row.time.empty() ? row.date + " " + row.time : row.date;
}

// Rows whose timestamps run newest first throughout are put oldest first, with a note; rows
// whose timestamps repeat (with times of day) or go back are refused at the first such line.
Status putInTimeOrder(std::vector<PriceRow>& rows, const std::string& name,
                      std::vector<std::string>& notes, std::optional<double>& barSeconds) {
  const std::optional<RowStamps> stamps = stampsOf(rows);
  if (!stamps || rows.size() < 2) return {};
  const std::vector<double>& at = stamps->at;
  const bool newestFirst = at.back() < at.front();
  const bool strict = stamps->withTimes;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const double step = newestFirst ? at[i - 1] - at[i] : at[i] - at[i - 1];
    if (step > 0.0 || (step == 0.0 && !strict)) continue;
    const std::string was = stampText(rows[i - 1], strict);
    const std::string is = stampText(rows[i], strict);
    const std::string previous = std::to_string(rows[i - 1].line);
    std::string what;
    const std::string noun = strict ? "the time " : "the date ";
    if (step == 0.0) {
      what = noun + is + " repeats the one on line " + previous;
    } else {
      what = noun + is + " comes " + (newestFirst ? "after " : "before ") + was +
             " on line " + previous + ", though the file runs " +
             (newestFirst ? "newest first" : "oldest first");
    }
    return Failure{where(name, rows[i].line) + what +
                   "; the prices must be in time order, each time once"};
  }
  if (!strict) {
    // Dates without times: most dates hold one price (daily closes), so a date that holds
    // more is a repeated line.
    std::vector<std::int64_t> runs{1};
    for (std::size_t i = 1; i < rows.size(); ++i) {
      if (rows[i].date == rows[i - 1].date) {
        ++runs.back();
      } else {
        runs.push_back(1);
      }
    }
    std::sort(runs.begin(), runs.end());
    if (runs.size() > 1 && runs[runs.size() / 2] == 1 && runs.back() > 1) {
      for (std::size_t i = 1; i < rows.size(); ++i) {
        if (rows[i].date != rows[i - 1].date) continue;
        return Failure{where(name, rows[i].line) + "the date " + rows[i].date +
                       " repeats the one on line " + std::to_string(rows[i - 1].line) +
                       ", where the other dates hold one price each; the prices must be in "
                       "time order, each time once"};
      }
    }
  }
  if (strict) {
    std::vector<double> spacings;
    for (std::size_t i = 1; i < rows.size(); ++i) {
      if (rows[i].date == rows[i - 1].date) spacings.push_back(std::fabs(at[i] - at[i - 1]));
    }
    if (!spacings.empty()) {
      std::sort(spacings.begin(), spacings.end());
      const std::size_t middle = spacings.size() / 2;
      barSeconds = spacings.size() % 2 == 1 ? spacings[middle]
                                            : (spacings[middle - 1] + spacings[middle]) / 2.0;
    }
  }
  if (newestFirst) {
    notes.push_back("note: " + name + " runs newest first, from " +
                    stampText(rows.front(), strict) + " on line " +
                    std::to_string(rows.front().line) + " to " + stampText(rows.back(), strict) +
                    " on line " + std::to_string(rows.back().line) +
                    "; its prices are read oldest first");
    std::reverse(rows.begin(), rows.end());
  }
  return {};
}

}  // namespace

bool looksLikeDate(std::string_view key) {
  if (key.empty()) return false;
  char separator = 0;
  int groups = 1;
  bool digitBefore = false;
  for (const char c : key) {
    if (c >= '0' && c <= '9') {
      digitBefore = true;
      continue;
    }
    if (c != '-' && c != '/' && c != '.') return false;
    if (!digitBefore || (separator != 0 && c != separator)) return false;
    separator = c;
    digitBefore = false;
    ++groups;
  }
  return groups == 3 && digitBefore;
}

std::string_view sessionKey(std::string_view field) {
  for (std::size_t i = 0; i < field.size(); ++i) {
    const char c = field[i];
    const bool afterDigit = i > 0 && field[i - 1] >= '0' && field[i - 1] <= '9';
    if (c == ' ' || c == '\t' || (c == 'T' && afterDigit)) return field.substr(0, i);
  }
  return field;
}

Outcome<PriceHistory> readPriceHistory(std::string_view bytes, const std::string& name,
                                       const PriceReading& reading) {
  if (bytes.starts_with(kByteOrderMark)) bytes.remove_prefix(kByteOrderMark.size());
  // One 0x1A as the very last byte is the old end-of-file mark, not damage.
  if (bytes.ends_with('\x1a')) bytes.remove_suffix(1);
  TextLines lines(bytes);
  std::string_view line;
  std::int64_t lineNumber = 0;
  // The next line into `line`, counted; false at the end, and at a line that holds a 0x00 or a
  // 0x1A byte, with `damage` set.
  std::optional<Failure> damage;
  const auto nextLine = [&]() {
    if (!lines.next(line)) return false;
    ++lineNumber;
    const std::size_t at = line.find_first_of(std::string_view("\0\x1a", 2));
    if (at == std::string_view::npos) return true;
    damage = Failure{where(name, lineNumber) + "byte " + std::to_string(at + 1) +
                     " of the line is " + (line[at] == 0 ? "0x00" : "0x1A") +
                     "; a price file holds text only"};
    return false;
  };
  bool haveHeader = false;
  while (!haveHeader && nextLine()) haveHeader = !isBlankLine(line);
  if (damage) return *damage;
  if (!haveHeader) return Failure{name + ": no header line"};

  const char delimiter = delimiterOf(line);
  const std::vector<std::string> header = splitFields(line, delimiter);
  const Outcome<Columns> columns = columnsFor(header, reading, name, lineNumber);
  if (!columns.ok()) return Failure{columns.message()};
  const std::size_t priceIndex = columns.value().price;
  const std::optional<std::size_t> sessionIndex = columns.value().session;

  PriceHistory history;
  history.priceColumn = header[priceIndex];
  if (columns.value().note) history.notes.push_back(*columns.value().note);
  const std::string priceLabel = fieldLabel(priceIndex, history.priceColumn);
  // The column of dates: the first but the price column whose first row holds a date; the
  // column of times: one named "time" beside it.
  std::optional<std::size_t> dateIndex;
  std::optional<std::size_t> timeIndex;
  std::vector<PriceRow> rows;
  while (nextLine()) {
    if (isBlankLine(line)) continue;
    const std::vector<std::string> fields = splitFields(line, delimiter);
    if (fields.size() != header.size()) {
      return Failure{where(name, lineNumber) + "the line has " +
                     countOf(static_cast<std::int64_t>(fields.size()), "field", "fields") +
                     ", the header " + std::to_string(header.size())};
    }
    const std::string& text = fields[priceIndex];
    const std::optional<double> price = decimalNumber(text);
    const auto badPrice = [&](const char* what) {
      return Failure{where(name, lineNumber) + priceLabel + ": '" + text + "' " + what};
    };
    if (!price) return badPrice("is not a number");
    if (!std::isfinite(*price)) return badPrice("is not finite");
    if (!(*price > 0.0)) return badPrice("is not positive");
    if (rows.empty()) {
      for (std::size_t i = 0; i < fields.size() && !dateIndex; ++i) {
        if (i != priceIndex && looksLikeDate(sessionKey(fields[i]))) dateIndex = i;
      }
      for (std::size_t i = 0; i < header.size() && dateIndex && !timeIndex; ++i) {
        if (i != priceIndex && i != *dateIndex && plainName(header[i]) == "time") timeIndex = i;
      }
    }
    PriceRow row;
    row.line = lineNumber;
    row.price = *price;
    if (sessionIndex) row.session = sessionKey(fields[*sessionIndex]);
    if (dateIndex) {
      row.date = sessionKey(fields[*dateIndex]);
      row.time = timeAfterDate(fields[*dateIndex]);
      if (row.time.empty() && timeIndex) row.time = fields[*timeIndex];
    }
    rows.push_back(std::move(row));
  }
  if (damage) return *damage;
  if (Status ordered = putInTimeOrder(rows, name, history.notes, history.barSeconds);
      !ordered.ok()) {
    return Failure{ordered.message()};
  }

  const std::string column = "'" + history.priceColumn + "'";
  DateRuns dates;
  const PriceRow* previous = nullptr;
  for (const PriceRow& row : rows) {
    const std::int64_t at = row.line;
    bool sameSession = previous != nullptr;
    if (!sessionIndex && dateIndex) followDates(dates, row.date, previous == nullptr);
    if (sessionIndex) sameSession = sameSession && row.session == previous->session;
    if (previous != nullptr) {
      const double ratio = row.price / previous->price;
      const double r = ratio - 1.0;
      const std::string previousLine = std::to_string(previous->line);
      const auto fromPrevious = [&]() {
        return std::string("the ") + (sameSession ? "return" : "gap") +
               " from the price on line " + previousLine;
      };
      if (!std::isfinite(r)) {
        return Failure{where(name, at) + fromPrevious() + " is not finite"};
      }
      const SplitRatio* split = splitNear(ratio);
      if (!reading.allowJumps && (split != nullptr || std::fabs(r) > kMostMove)) {
        std::string text = where(name, at) + "the price is " + shortNumber(ratio) +
                           " times the one on line " + previousLine + " (" + moveText(ratio) +
                           "), ";
        if (split != nullptr) {
          text += std::string("as a ") + split->name + " makes it: the history looks unadjusted "
                  "for the split, or column " + column + " is not the price";
        } else {
          text += "a move beyond +-50%: a split left unadjusted, a price in other units, or "
                  "column " + column + " is not the price";
        }
        if (columns.value().isPrice) {
          if (split != nullptr) {
            text += std::string("; ") + (ratio < 1.0 ? "divide" : "multiply") +
                    " the prices before line " + std::to_string(at) + " by " +
                    shortNumber(ratio < 1.0 ? 1.0 / split->ratio : split->ratio) +
                    " to adjust them";
          }
          text += "; if the move is real, --allow-jumps keeps it";
        } else {
          text += "; --column names the price column";
        }
        return Failure{text};
      }
      if (r > kMostJump) {
        return Failure{where(name, at) + fromPrevious() + " is " + shortNumber(r) +
                       ", above 1e70 even with --allow-jumps"};
      }
      if (sameSession) {
        history.returns.push_back(r);
        ++history.sessionReturns.back();
      } else {
        history.gaps.push_back(r);
      }
    }
    if (!sameSession) {
      ++history.sessionCount;
      history.sessionReturns.push_back(0);
    }
    ++history.priceCount;
    previous = &row;
  }
  if (dates.runs > 1 && dates.runs < history.priceCount) {
    history.unsessionedDates =
        UnsessionedDates{header[*dateIndex], dates.runs, dates.first, dates.last};
  }
  if (dates.runs > 1 && dates.runs == history.priceCount) {
    history.daily = DailyDates{dates.runs, dates.first, dates.last};
  }
  if (dates.runs > 1) history.dateReturns = std::move(dates.returns);

  const auto returnCount = static_cast<std::int64_t>(history.returns.size());
  if (returnCount < 2) {
    return Failure{name + ": " + countOf(returnCount, "return", "returns") + " from " +
                   countOf(history.priceCount, "price", "prices") + " in " +
                   countOf(history.sessionCount, "session", "sessions") +
                   "; at least 2 are needed" +
                   (sessionIndex && history.sessionCount == history.priceCount &&
                            history.priceCount > 2
                        ? "; each session holds one price, as daily closes do: they need no "
                          "--session"
                        : "")};
  }
  bool allEqual = true;
  for (const double r : history.returns) allEqual = allEqual && r == history.returns.front();
  if (allEqual) {
    return Failure{name + ": all " + std::to_string(returnCount) +
                   " returns are equal; the table needs returns that differ"};
  }
  return history;
}

Outcome<PriceHistory> loadPriceHistory(const std::string& path, const PriceReading& reading) {
  const Outcome<std::string> bytes = readFileBytes(path);
  if (!bytes.ok()) return failureOf(bytes);
  return readPriceHistory(bytes.value(), path, reading);
}

}  // namespace empricer
