#include "builder/price_history.h"

#include <cmath>

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

}  // namespace

std::string_view sessionKey(std::string_view field) {
  for (std::size_t i = 0; i < field.size(); ++i) {
    const char c = field[i];
    const bool afterDigit = i > 0 && field[i - 1] >= '0' && field[i - 1] <= '9';
    if (c == ' ' || c == '\t' || (c == 'T' && afterDigit)) return field.substr(0, i);
  }
  return field;
}

Outcome<PriceHistory> readPriceHistory(InputStream& stream, const std::string& name,
                                       const PriceColumns& columns) {
  std::string line;
  std::int64_t lineNumber = 0;
  bool haveHeader = false;
  while (!haveHeader && readWholeLine(stream, line)) {
    ++lineNumber;
    haveHeader = !isBlankLine(line);
  }
  if (!haveHeader) return Failure{name + ": no header line"};

  const char delimiter = delimiterOf(line);
  const std::vector<std::string> header = splitFields(line, delimiter);
  std::size_t priceIndex = header.size() - 1;
  if (columns.price) {
    const auto found = columnNamed(header, *columns.price);
    if (!found) return Failure{where(name, lineNumber) + "no column named '" + *columns.price + "'"};
    priceIndex = *found;
  } else if (const auto close = columnNamed(header, "close")) {
    priceIndex = *close;
  }
  std::optional<std::size_t> sessionIndex;
  if (columns.session) {
    sessionIndex = columnNamed(header, *columns.session);
    if (!sessionIndex) {
      return Failure{where(name, lineNumber) + "no session column named '" + *columns.session +
                     "'"};
    }
  }

  PriceHistory history;
  history.priceColumn = header[priceIndex];
  const std::string priceLabel = fieldLabel(priceIndex, history.priceColumn);
  std::string session;
  double previous = 0.0;
  std::int64_t previousLine = 0;
  while (readWholeLine(stream, line)) {
    ++lineNumber;
    if (isBlankLine(line)) continue;
    const std::vector<std::string> fields = splitFields(line, delimiter);
    const auto missing = [&](std::size_t index, const std::string& columnName) {
      return Failure{where(name, lineNumber) + "no " + fieldLabel(index, columnName) +
                     ": the line has " + countOf(static_cast<std::int64_t>(fields.size()),
                                                 "field", "fields")};
    };
    if (priceIndex >= fields.size()) return missing(priceIndex, history.priceColumn);
    const std::string& text = fields[priceIndex];
    const std::optional<double> price = decimalNumber(text);
    const auto badPrice = [&](const char* what) {
      return Failure{where(name, lineNumber) + priceLabel + ": '" + text + "' " + what};
    };
    if (!price) return badPrice("is not a number");
    if (!std::isfinite(*price)) return badPrice("is not finite");
    if (!(*price > 0.0)) return badPrice("is not positive");

    bool sameSession = history.priceCount > 0;
    if (sessionIndex) {
      if (*sessionIndex >= fields.size()) return missing(*sessionIndex, header[*sessionIndex]);
      const std::string_view key = sessionKey(fields[*sessionIndex]);
      sameSession = sameSession && key == session;
      session = key;
    }
    if (history.priceCount > 0) {
      const double r = *price / previous - 1.0;
      if (!std::isfinite(r)) {
        return Failure{where(name, lineNumber) + "the " + (sameSession ? "return" : "gap") +
                       " from the price on line " + std::to_string(previousLine) +
                       " is not finite"};
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

Outcome<PriceHistory> loadPriceHistory(const std::string& path, const PriceColumns& columns) {
  InputStream stream;
  openForReading(stream, path.c_str());
  if (!isOpen(stream)) return cannotOpen(path);
  return readPriceHistory(stream, path, columns);
}

}  // namespace empricer
