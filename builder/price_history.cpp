#include "builder/price_history.h"

#include <cmath>
#include <cstdio>

#include "builder/csv_fields.h"

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

struct Columns {
  std::size_t price = 0;
  std::optional<std::size_t> session;
};

// The price column and the session column of the header on line `line`.
Outcome<Columns> columnsFor(const std::vector<std::string>& header, const PriceReading& reading,
                            const std::string& name, std::int64_t line) {
  Columns columns{header.size() - 1, std::nullopt};
  const auto missing = [&](const char* what, const std::string& column) {
    return Failure{where(name, line) + "no " + what + "column named '" + column + "'; " +
                   columnsOf(header)};
  };
  if (reading.price) {
    const auto found = columnNamed(header, *reading.price);
    if (!found) return missing("", *reading.price);
    columns.price = *found;
  } else if (const auto close = columnNamed(header, "close")) {
    columns.price = *close;
  }
  if (reading.session) {
    columns.session = columnNamed(header, *reading.session);
    if (!columns.session) return missing("session ", *reading.session);
  }
  return columns;
}

// The runs of one date in a column of dates, followed without a session column.
struct DateRuns {
  std::optional<std::size_t> column;
  std::int64_t runs = 0;
  std::vector<std::int64_t> returns;  // ending at each run's prices
  std::string first;
  std::string last;
};

// The first data row picks the column: the first one but the price column whose key is a date.
void followDates(DateRuns& dates, const std::vector<std::string>& fields, std::size_t price,
                 bool firstRow) {
  if (firstRow) {
    for (std::size_t i = 0; i < fields.size() && !dates.column; ++i) {
      if (i != price && looksLikeDate(sessionKey(fields[i]))) dates.column = i;
    }
    if (dates.column) dates.first = sessionKey(fields[*dates.column]);
  }
  if (!dates.column) return;
  const std::string_view key = sessionKey(fields[*dates.column]);
  if (dates.runs == 0 || key != dates.last) {
    ++dates.runs;
    dates.last = key;
    dates.returns.push_back(0);
  }
  if (!firstRow) ++dates.returns.back();
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
  const std::string priceLabel = fieldLabel(priceIndex, history.priceColumn);
  std::string session;
  DateRuns dates;
  double previous = 0.0;
  std::int64_t previousLine = 0;
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

    bool sameSession = history.priceCount > 0;
    if (!sessionIndex) followDates(dates, fields, priceIndex, history.priceCount == 0);
    if (sessionIndex) {
      const std::string_view key = sessionKey(fields[*sessionIndex]);
      sameSession = sameSession && key == session;
      session = key;
    }
    if (history.priceCount > 0) {
      const double ratio = *price / previous;
      const double r = ratio - 1.0;
      const auto fromPrevious = [&]() {
        return std::string("the ") + (sameSession ? "return" : "gap") +
               " from the price on line " + std::to_string(previousLine);
      };
      if (!std::isfinite(r)) {
        return Failure{where(name, lineNumber) + fromPrevious() + " is not finite"};
      }
      if (!reading.allowJumps && (ratio < kLeastPriceRatio || ratio > kMostPriceRatio)) {
        return Failure{where(name, lineNumber) + "the price is " + shortNumber(ratio) +
                       " times the one on line " + std::to_string(previousLine) +
                       ", outside 1e-3 to 1e3; --allow-jumps accepts it"};
      }
      if (!reading.allowJumps && r > kMostReturn) {
        return Failure{where(name, lineNumber) + fromPrevious() + " is " + shortNumber(r) +
                       ", above +100%; --allow-jumps accepts it"};
      }
      if (r > kMostJump) {
        return Failure{where(name, lineNumber) + fromPrevious() + " is " + shortNumber(r) +
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
    previous = *price;
    previousLine = lineNumber;
  }
  if (damage) return *damage;
  if (dates.runs > 1 && dates.runs < history.priceCount) {
    history.unsessionedDates =
        UnsessionedDates{header[*dates.column], dates.runs, dates.first, dates.last};
  }
  if (dates.runs > 1) history.dateReturns = std::move(dates.returns);

  const auto returnCount = static_cast<std::int64_t>(history.returns.size());
  if (returnCount < 2) {
    return Failure{name + ": " + countOf(returnCount, "return", "returns") + " from " +
                   countOf(history.priceCount, "price", "prices") + " in " +
                   countOf(history.sessionCount, "session", "sessions") +
                   "; at least 2 are needed"};
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
  if (!bytes.ok()) return Failure{bytes.message(), bytes.kind()};
  return readPriceHistory(bytes.value(), path, reading);
}

}  // namespace empricer
