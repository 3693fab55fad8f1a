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

}  // namespace

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
  std::size_t priceIndex = header.size() - 1;
  if (reading.price) {
    const auto found = columnNamed(header, *reading.price);
    if (!found) {
      return Failure{where(name, lineNumber) + "no column named '" + *reading.price + "'"};
    }
    priceIndex = *found;
  } else if (const auto close = columnNamed(header, "close")) {
    priceIndex = *close;
  }
  std::optional<std::size_t> sessionIndex;
  if (reading.session) {
    sessionIndex = columnNamed(header, *reading.session);
    if (!sessionIndex) {
      return Failure{where(name, lineNumber) + "no session column named '" + *reading.session +
                     "'"};
    }
  }

  PriceHistory history;
  history.priceColumn = header[priceIndex];
  const std::string priceLabel = fieldLabel(priceIndex, history.priceColumn);
  std::string session;
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
