#include "builder/history_days.h"

#include <algorithm>
#include <cmath>

#include "engine/valuation/constants.h"

namespace empricer {

namespace {

// One day's moves, taken in order from the day's start price; beside it the same moves with the
// price held in the band after each, as empricer holds a path.
class DayPath {
 public:
  void move(double r) {
    ratio_ *= 1.0 + r;
    held_ *= 1.0 + r;
    if (held_ >= kUpperBand) {
      held_ = kUpperBand;
      cut_ = true;
    }
    if (held_ <= kLowerBand) {
      held_ = kLowerBand;
      cut_ = true;
    }
  }
  void endInto(HistoryDays& days) {
    days.returns.push_back(ratio_ - 1.0);
    if (held_ == kUpperBand || held_ == kLowerBand) ++days.heldAtEnd;
    if (cut_) ++days.bandCut;
    ratio_ = 1.0;
    held_ = 1.0;
    cut_ = false;
  }

 private:
  double ratio_ = 1.0;
  double held_ = 1.0;
  bool cut_ = false;
};

// A day for each run of `counts` returns that holds one, `before(i)` moved first on run i.
template <typename Before>
void daysOfRuns(const std::vector<double>& returns, const std::vector<std::int64_t>& counts,
                Before before, HistoryDays& days) {
  std::size_t at = 0;
  DayPath path;
  for (std::size_t i = 0; i < counts.size(); ++i) {
    const auto count = static_cast<std::size_t>(counts[i]);
    if (count > 0 && before(i, path)) {
      for (std::size_t j = at; j < at + count; ++j) path.move(returns[j]);
      path.endInto(days);
    }
    at += count;
  }
}

}  // namespace

HistoryDays historyDays(const PriceHistory& history, bool sessions, bool withGaps,
                        double returnsPerDay) {
  HistoryDays days;
  const std::vector<double>& returns = history.returns;
  if (sessions) {
    days.cut = DaysCut::sessions;
    // Gap i lies between session i and session i + 1.
    const auto gapFirst = [&](std::size_t session, DayPath& path) {
      if (!withGaps) return true;
      if (session == 0 || session - 1 >= history.gaps.size()) return false;
      path.move(history.gaps[session - 1]);
      return true;
    };
    daysOfRuns(returns, history.sessionReturns, gapFirst, days);
  } else if (!history.dateReturns.empty()) {
    days.cut = DaysCut::dates;
    daysOfRuns(returns, history.dateReturns, [](std::size_t, DayPath&) { return true; }, days);
  } else {
    days.cut = DaysCut::blocks;
    days.blockLength = std::max<std::int64_t>(
        1, static_cast<std::int64_t>(std::floor(returnsPerDay + 0.5)));
    const auto length = static_cast<std::size_t>(days.blockLength);
    DayPath path;
    for (std::size_t start = 0; start + length <= returns.size(); start += length) {
      for (std::size_t j = start; j < start + length; ++j) path.move(returns[j]);
      path.endInto(days);
    }
  }
  return days;
}

}  // namespace empricer
