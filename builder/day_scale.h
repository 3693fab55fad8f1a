// From the data's returns to the returns the table is made of: how many of the data's returns
// make one trading day (N), how many steps make the table's day (T), and the affine map that
// gives the table's day of T steps the data's daily variance and the chosen mean per step.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "builder/moments.h"
#include "engine/valuation/constants.h"

namespace empricer {

// How the returns per day were found.
enum class DayFound {
  given,          // --returns-per-day N
  sessionMedian,  // auto with sessions: the median session
  dateMedian,     // auto without sessions, on a column of dates: the median date
  oneStepEach,    // auto otherwise: T, one return per step
};

// The fewest steps per day that empricer takes (the most: kMostStepsPerDay).
constexpr int kLeastStepsPerDay = 1;

// Sessions whose number of returns lies more than this share from the median are uneven.
constexpr double kUnevenShare = 0.1;

// The sessions that hold at least one return: their median number of returns (the mean of
// the two middle ones for an even count), the shortest and the longest, and how many lie
// more than kUnevenShare from the median.
struct SessionLengths {
  std::int64_t sessions = 0;
  double median = 0.0;
  std::int64_t shortest = 0;
  std::int64_t longest = 0;
  std::int64_t uneven = 0;
};
// `counts` must hold at least one session with a return.
SessionLengths sessionLengths(const std::vector<std::int64_t>& counts);

struct DayScaleInput {
  Moments data;                         // of the data's returns
  std::optional<Moments> gaps;          // of the gaps, when there are sessions and gaps
  std::optional<double> returnsPerDay;  // given; nothing: auto
  std::optional<int> stepsPerDay;       // given; nothing: auto
  std::optional<double> sessionMedian;  // the median session, with sessions
  std::optional<double> dateMedian;     // the median date, without sessions on dates
  bool withGaps = false;
  // The dates hold one price each (daily closes): N is the median date, 1, whatever T is.
  bool daily = false;
  std::optional<double> chosenMean;     // --mean VALUE or risk-neutral; nothing: the data's
};

struct DayScale {
  double returnsPerDay = 0.0;  // N
  DayFound found = DayFound::oneStepEach;
  int stepsPerDay = kDefaultStepsPerDay;  // T
  double factor = 1.0;         // k
  double mean = 0.0;           // the mean per step the table is made for
  bool mapped = false;         // false: the table is made of the data's returns as they are
};

// N and T alone, the map left as it is (factor 1, mean 0, not mapped). T is the given number;
// with --returns-per-day given, kDefaultStepsPerDay; with sessions the median session rounded to
// a whole number (halves up), one more with --with-gaps (the gap is one of the day's moves);
// without sessions the median date rounded; else kDefaultStepsPerDay. A T from the data is held
// to kLeastStepsPerDay..kMostStepsPerDay. N is the given number; or the median session; or,
// when T is not given either, the median date; or else T itself, one return a step.
DayScale daySteps(const DayScaleInput& input);

// N and T, and the map. The returns are mapped unless N is T, --with-gaps is not given and the
// mean is the data's. Then, with m and s the data's mean and standard deviation, mg and sg the
// gaps' (0 without gaps):
//   factor k = sqrt(N / T), or with --with-gaps sqrt((N x s x s + sg x sg) / (T x s x s));
//   mean   = the chosen mean, or (N x m) / T, or with --with-gaps (N x m + mg) / T.
DayScale dayScale(const DayScaleInput& input);

// Each return r becomes mean + (r - m) x k, in place, when the scale maps the returns.
void applyDayScale(std::vector<double>& returns, double dataMean, const DayScale& scale);

}  // namespace empricer
