#include "builder/history_stamps.h"

#include <array>

#include "builder/price_history.h"

namespace empricer {

namespace {

// The three groups of digits of a date key, and how many digits the first one has.
struct DateGroups {
  std::array<std::int64_t, 3> value{};
  std::array<std::size_t, 3> digits{};
  char separator = 0;
};

std::optional<DateGroups> groupsOf(std::string_view key) {
  if (!looksLikeDate(key)) return std::nullopt;
  DateGroups groups;
  std::size_t at = 0;
  for (const char c : key) {
    if (c >= '0' && c <= '9') {
      if (groups.digits[at] >= 9) return std::nullopt;
      groups.value[at] = groups.value[at] * 10 + (c - '0');
      ++groups.digits[at];
    } else {
      groups.separator = c;
      ++at;
    }
  }
  return groups;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t daysFromCivil(std::int64_t y, std::int64_t m, std::int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool isLeap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

std::int64_t daysInMonth(std::int64_t y, std::int64_t m) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Digits from `at`, at most `most`, at least one; advances `at`.
std::optional<int> digitsAt(std::string_view text, std::size_t& at, std::size_t most) {
  std::size_t count = 0;
  int value = 0;
  while (at < text.size() && isDigit(text[at]) && count < most) {
    value = value * 10 + (text[at] - '0');
    ++at;
    ++count;
  }
  if (count == 0) return std::nullopt;
  return value;
}

char lowered(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::optional<DateOrder> dateOrderOf(const std::vector<std::string>& keys) {
  bool firstAbove12 = false;
  bool secondAbove12 = false;
  for (const std::string& key : keys) {
    const std::optional<DateGroups> groups = groupsOf(key);
    if (!groups || groups->digits[0] == 4 || groups->separator == '.') continue;
    firstAbove12 = firstAbove12 || groups->value[0] > 12;
    secondAbove12 = secondAbove12 || groups->value[1] > 12;
  }
  if (firstAbove12 && secondAbove12) return std::nullopt;
  return firstAbove12 ? DateOrder::dayFirst : DateOrder::monthFirst;
}

std::optional<std::int64_t> dayNumber(std::string_view key, DateOrder order) {
  const std::optional<DateGroups> groups = groupsOf(key);
  if (!groups) return std::nullopt;
  std::int64_t y = 0;
  std::int64_t m = 0;
  std::int64_t d = 0;
  std::size_t yearDigits = 0;
  const auto& v = groups->value;
  if (groups->digits[0] == 4) {
    y = v[0], m = v[1], d = v[2], yearDigits = 4;
  } else if (groups->separator == '.' || order == DateOrder::dayFirst) {
    d = v[0], m = v[1], y = v[2], yearDigits = groups->digits[2];
  } else {
    m = v[0], d = v[1], y = v[2], yearDigits = groups->digits[2];
  }
  if (yearDigits == 2) {
    y += y >= 70 ? 1900 : 2000;
  } else if (yearDigits != 4) {
    return std::nullopt;
  }
  if (m < 1 || m > 12 || d < 1 || d > daysInMonth(y, m)) return std::nullopt;
  return daysFromCivil(y, m, d);
}

std::optional<double> secondsOfDay(std::string_view text) {
  std::size_t at = 0;
  const std::optional<int> hour = digitsAt(text, at, 2);
  if (!hour || at >= text.size() || text[at] != ':') return std::nullopt;
  ++at;
  const std::size_t minuteStart = at;
  const std::optional<int> minute = digitsAt(text, at, 2);
  if (!minute || at - minuteStart != 2 || *minute > 59) return std::nullopt;
  double seconds = 0.0;
  if (at < text.size() && text[at] == ':') {
    ++at;
    const std::size_t secondStart = at;
    const std::optional<int> second = digitsAt(text, at, 2);
    if (!second || at - secondStart != 2 || *second > 60) return std::nullopt;
    seconds = *second;
    if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
      ++at;
      double scale = 0.1;
      if (at >= text.size() || !isDigit(text[at])) return std::nullopt;
      while (at < text.size() && isDigit(text[at])) {
        seconds += scale * (text[at] - '0');
        scale /= 10.0;
        ++at;
      }
    }
  }
  int h = *hour;
  double offset = 0.0;  // of an offset from UTC, taken off: the times of a file in one zone
  std::string_view rest = text.substr(at);
  if (rest == "Z" || rest == "z") {
    rest = {};
  } else if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
    std::size_t i = 1;
    const std::optional<int> hours = digitsAt(rest, i, 2);
    if (!hours) return std::nullopt;
    if (i < rest.size() && rest[i] == ':') ++i;
    std::optional<int> minutes = 0;
    if (i < rest.size()) minutes = digitsAt(rest, i, 2);
    if (!minutes || i != rest.size()) return std::nullopt;
    offset = (rest[0] == '+' ? 1.0 : -1.0) * (*hours * 3600.0 + *minutes * 60.0);
    rest = {};
  } else {
    while (!rest.empty() && (rest[0] == ' ' || rest[0] == '\t')) rest.remove_prefix(1);
    if (rest.size() == 2 && lowered(rest[1]) == 'm' &&
        (lowered(rest[0]) == 'a' || lowered(rest[0]) == 'p')) {
      if (h < 1 || h > 12) return std::nullopt;
      h = h % 12 + (lowered(rest[0]) == 'p' ? 12 : 0);
      rest = {};
    }
  }
  if (!rest.empty() || h > 23) return std::nullopt;
  return h * 3600.0 + *minute * 60.0 + seconds - offset;
}

std::string_view timeAfterDate(std::string_view field) {
  std::string_view rest = field.substr(sessionKey(field).size());
  if (!rest.empty() && rest[0] == 'T') return rest.substr(1);
  while (!rest.empty() && (rest[0] == ' ' || rest[0] == '\t')) rest.remove_prefix(1);
  return rest;
}

}  // namespace empricer
