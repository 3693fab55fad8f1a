// From the data's returns to the returns the table is made of: how many of the data's returns
// make one trading day, and the affine map that gives the table's day of 270 steps the data's
// daily variance and the chosen mean per step.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "builder/moments.h"

namespace empricer {

// How the returns per day were found.
enum class DayFound {
  given,          // --returns-per-day N
  sessionMedian,  // auto with sessions: the median session
  oneStepEach,    // auto without sessions: 270, one return per step
};

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
  std::optional<double> sessionMedian;  // the median session, with sessions
  bool withGaps = false;
  std::optional<double> chosenMean;     // --mean VALUE or risk-neutral; nothing: the data's
};

struct DayScale {
  double returnsPerDay = 0.0;  // N
  DayFound found = DayFound::oneStepEach;
  double factor = 1.0;         // k
  double mean = 0.0;           // the mean per step the table is made for
  bool mapped = false;         // false: the table is made of the data's returns as they are
};

// N is the given number, or the median session, or 270. The returns are mapped unless N is
// 270, --with-gaps is not given and the mean is the data's. Then, with m and s the data's mean
// and standard deviation, mg and sg the gaps' (0 without gaps):
//   factor k = sqrt(N / 270), or with --with-gaps sqrt((N x s x s + sg x sg) / (270 x s x s));
//   mean   = the chosen mean, or (N x m) / 270, or with --with-gaps (N x m + mg) / 270.
DayScale dayScale(const DayScaleInput& input);

// Each return r becomes mean + (r - m) x k, in place, when the scale maps the returns.
void applyDayScale(std::vector<double>& returns, double dataMean, const DayScale& scale);

}  // namespace empricer
