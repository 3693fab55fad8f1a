// The report of a build: the counts, how the day was scaled, and the moments per step of the
// data, of the returns the table is made of (its target) and of the table as the sampler draws
// it, then the same per day, and the daily standard deviations annualised; then the table's
// steps per day, and a day's return of the history beside the table's day as empricer draws it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "builder/day_scale.h"
#include "builder/history_days.h"
#include "builder/quote_fit.h"
#include "builder/dist_options.h"
#include "builder/moments.h"
#include "builder/price_history.h"
#include "builder/rate_settings.h"
#include "engine/day_shape.h"

namespace empricer {

// The table must draw a mean within this many of the target's standard deviations of the
// target's mean, and a standard deviation within this share of the target's. A chosen mean
// (--mean VALUE or risk-neutral) is met within kChosenMeanBound standard deviations.
constexpr double kMeanBound = 0.01;
constexpr double kSpreadBound = 0.01;
constexpr double kChosenMeanBound = 1e-6;

// A history of fewer sessions (when they are known) or fewer returns than these gets a
// warning that it is short.
constexpr std::int64_t kFewSessions = 20;
constexpr std::int64_t kFewReturns = 500;

// The tilt of a canonical table (--mean canonical).
struct CanonicalFigures {
  double theta = 0.0;
  double curvature = 0.0;          // with --target-vol
  std::optional<double> targetVol; // --target-vol
  double relativeEntropy = 0.0;  // of the tilted weights to the history's table's
  double returnsSize = 0.0;      // 1 / sum q^2 of the history's returns under the tilt
  double effectiveSize = 0.0;    // 1 / sum q^2 of the tilted weights over their total
  double historySize = 0.0;      // the same of the history's table
  int iterations = 0;            // drawn means taken to find theta
};

struct DistFigures {
  std::string pricesFile;
  std::string priceColumn;
  std::string sessionColumn;  // empty without sessions
  std::int64_t priceCount = 0;
  std::int64_t returnCount = 0;
  std::int64_t sessionCount = 0;
  int rows = 0;
  int maxRows = 0;
  std::string tableFile;
  DayScale scale;
  std::optional<SessionLengths> lengths;  // with sessions
  std::int64_t gapCount = 0;
  Moments gaps;                           // when there are gaps
  bool withGaps = false;
  MeanChoice meanChoice = MeanChoice::data;
  std::string setupFile;                  // with --mean risk-neutral or canonical
  RateSettings rates;                     // with --mean risk-neutral or canonical
  std::optional<double> carry;            // --carry, with --mean risk-neutral or canonical
  std::optional<CanonicalFigures> canonical;  // with --mean canonical
  std::optional<QuoteFit> fit;                // with --fit
  Moments data;    // the data's returns
  Moments target;  // the returns the table is made of; a chosen mean is its mean exactly
  Moments table;   // over every generator output
  double tradingDays = kTradingYear;  // of a year, for the annualised volatility
  // The history's own days: how they were cut, how many, their moments (when there is one)
  // and how many of them end held at an end of the band.
  DaysCut daysCut = DaysCut::blocks;
  std::int64_t blockLength = 0;
  std::int64_t historyDays = 0;
  Moments historyDay;
  std::int64_t historyHeldAtEnd = 0;
  std::int64_t historyBandCut = 0;  // the history's days that the band cuts
  DayShape tableDay{};  // the table's day of T steps, held in the band
};

// The warning of a fit that left quoted prices outside their bid/ask: how many, and the
// first few lines.
std::optional<std::string> outsideQuotesWarning(const QuoteFit& fit);
// The quotes left out of a fit, out of the paths' reach: their lines and the first's reason.
std::optional<std::string> unreachedQuotesWarning(const QuoteFit& fit);

// |table mean - target mean| in target standard deviations.
double meanMiss(const DistFigures& figures);
// |table sd / target sd - 1|.
double spreadMiss(const DistFigures& figures);
bool meetsBounds(const DistFigures& figures);

// The data's day: in session N x m and s x sqrt(N); close to close N x m + mg and
// sqrt(N x s x s + sg x sg).
double inSessionDailyMean(const DistFigures& figures);
double inSessionDailyDeviation(const DistFigures& figures);
double closeToCloseDailyMean(const DistFigures& figures);
double closeToCloseDailyDeviation(const DistFigures& figures);

std::string reportText(const DistFigures& figures);
// One line, without the program's name, saying how far the table misses the bounds.
std::string boundsWarning(const DistFigures& figures);
// One line, without the program's name, when sessions are uneven (SessionLengths::uneven);
// `days` names them ("sessions" or "dates").
std::string unevenSessionsWarning(const SessionLengths& lengths, const std::string& days);
// One line, without the program's name, when a column of dates changes date within a file read
// without sessions: the moves between dates count as returns.
std::string unsessionedDatesWarning(const UnsessionedDates& dates);
// One line, without the program's name, when the history holds fewer than kFewSessions
// sessions (`days`, when they are known: sessions, or the dates of a column of dates when
// `dates` is set) or fewer than kFewReturns returns; nothing otherwise.
std::optional<std::string> shortHistoryWarning(std::optional<std::int64_t> days, bool dates,
                                               std::int64_t returns);
// The share of the history's days that the band cuts (NaN without days).
double bandCutShare(const DistFigures& figures);
// The annualised volatility of the table's day held in the band, as the pricer sees it.
double bandHeldVolatility(const DistFigures& figures);
// One line, without the program's name, when the band cuts more than kMostBandCut of the
// history's days; nothing otherwise.
constexpr double kMostBandCut = 0.01;
std::optional<std::string> bandCutWarning(const DistFigures& figures);
// One line, without the program's name, when a rate (the settings file's, or --carry) is so
// large in size (kPercentSized or more a year) that it only makes sense in percent.
constexpr double kPercentSized = 0.5;
// `what` names the value ("--carry"), `noun` says what it is ("carry").
std::optional<std::string> percentRateWarning(const std::string& what, const std::string& noun,
                                              double value);

// One line, without the program's name, when a chosen mean per step is larger in size than the
// target's standard deviation; nothing otherwise.
std::optional<std::string> largeMeanWarning(const DistFigures& figures);

}  // namespace empricer
