// The timestamps of a price history: a column of dates (2019-11-05, 11/5/2019, 05.11.2019),
// with the time of day in the same field (after a blank or a 'T') or in a column of its own,
// read as a number that orders them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace empricer {

// How the digits of a date with '/' or '-' and the year last are read: month first (11/5/2019)
// or day first (5/11/2019).
enum class DateOrder { monthFirst, dayFirst };

// The order of a file's dates: day first when some date's first group is above 12, month first
// otherwise; nothing when both some first group and some second group are above 12 (neither
// order reads every date).
std::optional<DateOrder> dateOrderOf(const std::vector<std::string>& keys);

// The days since 1970-01-01 of a date key (as looksLikeDate accepts it); nothing when it is no
// calendar date. A year of two digits is 19xx from 70, 20xx below.
std::optional<std::int64_t> dayNumber(std::string_view key, DateOrder order);

// The seconds since midnight of a time of day: H:MM, H:MM:SS or H:MM:SS.fff, then optionally
// 'Z', an offset such as +01:00 (taken off, so that times in UTC come back), or AM / PM after
// a blank; nothing for anything else.
std::optional<double> secondsOfDay(std::string_view text);

// The text after a field's date key: "9:30" of "11/5/2019 9:30", "09:30:00Z" of
// "2019-11-05T09:30:00Z"; empty when the field is its key.
std::string_view timeAfterDate(std::string_view field);

}  // namespace empricer
