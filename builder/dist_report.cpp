#include "builder/dist_report.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "text/number_text.h"

namespace empricer {

namespace {

constexpr std::size_t kLabelWidth = 26;
constexpr std::size_t kValueWidth = 16;

void padTo(std::string& text, std::size_t lineStart, std::size_t width) {
  const std::size_t used = text.size() - lineStart;
  text.append(used < width ? width - used : 1, ' ');
}

// A label, then each value in a column of its own, then how they were found when `how` is
// not empty.
void addRow(std::string& text, const char* label, std::initializer_list<double> values,
            const std::string& how = "") {
  const std::size_t start = text.size();
  text += label;
  std::size_t width = kLabelWidth;
  for (const double value : values) {
    padTo(text, start, width);
    appendNumber(text, value);
    width += kValueWidth;
  }
  if (!how.empty()) text += " (" + how + ")";
  text += '\n';
}

// The heading of a block: its name, then each column's.
void addHeading(std::string& text, const char* label, std::initializer_list<const char*> columns) {
  text += '\n';
  const std::size_t start = text.size();
  text += label;
  std::size_t width = kLabelWidth;
  for (const char* column : columns) {
    padTo(text, start, width);
    text += column;
    width += kValueWidth;
  }
  text += '\n';
}

void addCount(std::string& text, const char* label, std::int64_t count) {
  const std::size_t start = text.size();
  text += label;
  padTo(text, start, kLabelWidth);
  appendInteger(text, count);
  text += '\n';
}

// A label, a value and how it was found.
void addFound(std::string& text, const char* label, double value, const std::string& how) {
  const std::size_t start = text.size();
  text += label;
  padTo(text, start, kLabelWidth);
  appendNumber(text, value);
  text += " (" + how + ")\n";
}

std::string percent(double share) {
  std::string text;
  appendNumber(text, 100.0 * share);
  return text + "%";
}

bool chosenMean(const DistFigures& f) { return f.meanChoice != MeanChoice::data; }

std::string howFound(const DistFigures& f) {
  switch (f.scale.found) {
    case DayFound::given:
      return "given";
    case DayFound::sessionMedian:
      return "the median of " + std::to_string(f.lengths->sessions) +
             (f.lengths->sessions == 1 ? " session" : " sessions") + ", which hold " +
             std::to_string(f.lengths->shortest) + " to " + std::to_string(f.lengths->longest) +
             " returns";
    case DayFound::dateMedian:
      return "the median of " + std::to_string(f.lengths->sessions) +
             (f.lengths->sessions == 1 ? " date" : " dates") + ", which hold " +
             std::to_string(f.lengths->shortest) + " to " + std::to_string(f.lengths->longest) +
             " returns";
    case DayFound::oneStepEach:
      break;
  }
  return "no sessions: one return a step";
}

std::string howScaled(const DistFigures& f) {
  if (!f.scale.mapped) return "the returns as they are";
  const std::string t = std::to_string(f.scale.stepsPerDay);
  if (f.withGaps) return "sqrt((N x variance + gap variance) / (" + t + " x variance))";
  return "sqrt(N / " + t + ")";
}

std::string howMean(const DistFigures& f) {
  switch (f.meanChoice) {
    case MeanChoice::value:
      return "given";
    case MeanChoice::riskNeutral:
    case MeanChoice::canonical:
      return std::string(f.meanChoice == MeanChoice::canonical ? "canonical" : "risk-neutral") +
             ": " + f.setupFile + ", rate " + numberText(f.rates.rate) +
             (f.carry ? ", carry " + numberText(*f.carry) : "") + ", step scale " +
             numberText(f.rates.stepScale);
    case MeanChoice::data:
      break;
  }
  if (!f.scale.mapped) return "the data's";
  const std::string over = ", over " + std::to_string(f.scale.stepsPerDay) +
                           (f.scale.stepsPerDay == 1 ? " step" : " steps");
  return (f.withGaps ? "the data's daily mean with the gaps" : "the data's daily mean") + over;
}

std::string howDaysCut(const DistFigures& f) {
  switch (f.daysCut) {
    case DaysCut::sessions:
      return f.withGaps ? "the sessions after the first that hold a return, each its gap and "
                          "its returns compounded"
                        : "the sessions that hold a return, each its returns compounded";
    case DaysCut::dates:
      return "the dates that hold a return, each its returns compounded from the last price "
             "before it";
    case DaysCut::blocks:
      break;
  }
  return "blocks of " + std::to_string(f.blockLength) + " returns, each compounded";
}

// The table's steps per day, then a day's return of the history's days beside the table's day
// of that many steps, held in the band as empricer holds it.
void addDay(std::string& text, const DistFigures& f) {
  text += '\n';
  addFound(text, "steps per day", f.scale.stepsPerDay,
           "value the table with empricer --steps-per-day " +
               std::to_string(f.scale.stepsPerDay));
  addFound(text, "history's days", static_cast<double>(f.historyDays), howDaysCut(f));
  addHeading(text, "a day's return", {"history's days", "table as drawn"});
  const Moments& h = f.historyDay;
  const DayShape& t = f.tableDay;
  addRow(text, "day standard deviation", {h.standardDeviation, t.deviation});
  addRow(text, "day skewness", {h.skewness, t.skewness});
  addRow(text, "day excess kurtosis", {h.excessKurtosis, t.excessKurtosis});
  const double historyShare = f.historyDays > 0 ? static_cast<double>(f.historyHeldAtEnd) /
                                                      static_cast<double>(f.historyDays)
                                                : std::nan("");
  addRow(text, "days held at the band", {historyShare, t.heldAtEnd},
         "a share: the day ends held at 1/1.07 or 1.07 of its start, the history's days held "
         "as empricer holds a path");
  addRow(text, "days the band cuts", {bandCutShare(f)},
         "a share of the history's days: held so, the price reaches 1/1.07 or 1.07 of the "
         "day's start");
  addRow(text, "volatility in the band", {bandHeldVolatility(f)},
         "annualised, as the pricer sees it: the table's day as drawn, held in the band, x "
         "sqrt(" + numberText(f.tradingDays) + " trading days)");
}

// The quotes of a fit, one line each, and how many it met.
void addFit(std::string& text, const QuoteFit& fit) {
  text += "\nThe quotes, priced exactly with the table:\n";
  text += "line    side  S0          K           days  bid         ask         fitted      "
          "residual    vol residual  inside\n";
  int inside = 0;
  for (const FitTarget& t : fit.targets) {
    const std::size_t start = text.size();
    text += std::to_string(t.line);
    const auto column = [&](std::size_t at) { padTo(text, start, at); };
    column(8);
    text += t.call ? "call" : "put";
    const double values[] = {t.spot, t.strike};
    std::size_t at = 14;
    for (double v : values) {
      column(at);
      appendNumber(text, v);
      at += 12;
    }
    column(at);
    text += std::to_string(t.days);
    at += 6;
    for (double v : {t.bid, t.ask, t.price, t.residual(), t.volResidual}) {
      column(at);
      appendNumber(text, v);
      at += 12;
    }
    column(at + 2);
    text += t.inside() ? "yes" : "no";
    text += '\n';
    if (t.inside()) ++inside;
  }
  text += "\n";
  addFound(text, "inside", inside,
           "of " + std::to_string(fit.targets.size()) + " quoted prices, within their bid/ask");
  addFound(text, "objective", fit.objective,
           "sum of (distance outside / half-spread)^2 + " + numberText(kFitPenalty) +
               " x the tilt's relative entropy to second order");
  text += "iterations                " + std::to_string(fit.iterations) + " (" +
          std::to_string(fit.pricings) + " tables priced exactly)\n";
  if (fit.unreached.empty()) return;
  text += "\nLeft out of the fit, out of the paths' reach (no table and no calibration meets "
          "them):\n";
  for (const UnreachedTarget& u : fit.unreached) text += u.reason + "\n";
}

}  // namespace

namespace {

// " 3 5 8", the first eight of the lines, and " and N more lines" beyond them.
void appendLines(std::string& text, const std::vector<std::int64_t>& lines) {
  for (std::size_t i = 0; i < lines.size() && i < 8; ++i) {
    text += ' ';
    text += std::to_string(lines[i]);
  }
  if (lines.size() > 8) {
    text += " and ";
    text += std::to_string(lines.size() - 8);
    text += lines.size() - 8 == 1 ? " more line" : " more lines";
  }
}

}  // namespace

std::optional<std::string> unreachedQuotesWarning(const QuoteFit& fit) {
  if (fit.unreached.empty()) return std::nullopt;
  std::string text = "warning: ";
  text += std::to_string(fit.unreached.size());
  text += fit.unreached.size() == 1 ? " quoted price is" : " quoted prices are";
  text += " out of the paths' reach and left out of the fit (lines";
  std::vector<std::int64_t> lines;
  for (const UnreachedTarget& u : fit.unreached) {
    if (std::find(lines.begin(), lines.end(), u.target.line) == lines.end()) {
      lines.push_back(u.target.line);
    }
  }
  appendLines(text, lines);
  text += "): no table and no calibration meets them; the report says why; the first: ";
  text += fit.unreached.front().reason;
  return text;
}

std::optional<std::string> outsideQuotesWarning(const QuoteFit& fit) {
  // The lines, each once (a line's call and put are two prices), in the order of the quotes.
  std::vector<std::int64_t> lines;
  std::size_t prices = 0;
  for (const FitTarget& t : fit.targets) {
    if (t.inside()) continue;
    ++prices;
    if (std::find(lines.begin(), lines.end(), t.line) == lines.end()) lines.push_back(t.line);
  }
  if (lines.empty()) return std::nullopt;
  std::string text = "warning: ";
  text += std::to_string(prices);
  text += " of ";
  text += std::to_string(fit.targets.size());
  text += " quoted prices lie outside their bid/ask after the fit (lines";
  appendLines(text, lines);
  text += "): a table of this family does not price them; the report shows by how much; "
          "empricer --exact --calibrate FILE weighs whole paths and meets any chain the "
          "paths can reach";
  return text;
}

namespace {

// The tilt of a canonical table: theta, how far the weights moved, how many rows they count.
void addCanonical(std::string& text, const DistFigures& f) {
  const CanonicalFigures& c = *f.canonical;
  if (f.fit) {
    const TiltShape& shape = f.fit->table.shape;
    text += "\nThe history's returns, their weights tilted by exp(theta x return + down x min(z, "
            "0)^2 + up x max(z, 0)^2 + tail x max(|z| - 2, 0)^2), z = (return - " +
            numberText(shape.centre) + ") / " + numberText(shape.scale) + ":\n";
    addFound(text, "theta", c.theta, "the drawn mean is the mean per step");
    addFound(text, "down", shape.down, "the falls' spread");
    addFound(text, "up", shape.up, "the rises' spread");
    addFound(text, "tail", shape.tail, "beyond two standard deviations");
  } else if (c.targetVol) {
    text += "\nThe history's returns, their weights tilted by exp(theta x return + c x "
            "return^2):\n";
    addFound(text, "theta", c.theta, "the drawn mean is the mean per step");
    addFound(text, "c", c.curvature,
             "the drawn annualised volatility is " + numberText(*c.targetVol) + "; " +
                 std::to_string(c.iterations) + " drawn means taken");
  } else {
    text += "\nThe history's returns, their weights tilted by exp(theta x return):\n";
    addFound(text, "theta", c.theta,
             "the drawn mean is the mean per step; " + std::to_string(c.iterations) +
                 " drawn means taken");
  }
  addFound(text, "relative entropy", c.relativeEntropy,
           "sum q log(q / p) of the weights to the history's");
  addFound(text, "effective sample size", c.returnsSize,
           "1 / sum q^2 of the " + std::to_string(f.returnCount) + " returns, each weighted by " +
               (c.targetVol || f.fit ? "its tilt" : "exp(theta x return)"));
  addFound(text, "table's effective size", c.effectiveSize,
           "1 / sum q^2 of the " + std::to_string(f.rows) + " rows' weights; the history's table " +
               numberText(c.historySize));
}

}  // namespace

double meanMiss(const DistFigures& figures) {
  return std::fabs(figures.table.mean - figures.target.mean) / figures.target.standardDeviation;
}

double spreadMiss(const DistFigures& figures) {
  return std::fabs(figures.table.standardDeviation / figures.target.standardDeviation - 1.0);
}

bool meetsBounds(const DistFigures& figures) {
  return meanMiss(figures) <= (chosenMean(figures) ? kChosenMeanBound : kMeanBound) &&
         spreadMiss(figures) <= kSpreadBound;
}

double inSessionDailyMean(const DistFigures& f) { return f.scale.returnsPerDay * f.data.mean; }

double inSessionDailyDeviation(const DistFigures& f) {
  return f.data.standardDeviation * std::sqrt(f.scale.returnsPerDay);
}

double closeToCloseDailyMean(const DistFigures& f) {
  return f.scale.returnsPerDay * f.data.mean + f.gaps.mean;
}

double closeToCloseDailyDeviation(const DistFigures& f) {
  const double s = f.data.standardDeviation;
  const double sg = f.gaps.standardDeviation;
  return std::sqrt(f.scale.returnsPerDay * s * s + sg * sg);
}

std::string reportText(const DistFigures& f) {
  std::string text = "Prices: " + f.pricesFile + ", column " + f.priceColumn;
  if (!f.sessionColumn.empty()) text += ", sessions by " + f.sessionColumn;
  text += "\nTable: " + f.tableFile + "\n\n";
  addCount(text, "prices", f.priceCount);
  addCount(text, "sessions", f.sessionCount);
  addCount(text, "returns", f.returnCount);
  const bool sessions = !f.sessionColumn.empty();
  if (sessions) {
    addCount(text, "overnight gaps", f.gapCount);
    if (f.gapCount > 0) {
      addRow(text, "gap mean", {f.gaps.mean});
      addRow(text, "gap standard deviation", {f.gaps.standardDeviation});
    }
  }
  addCount(text, "table rows", f.rows);
  addCount(text, "at most", f.maxRows);
  text += '\n';
  addFound(text, "returns per day", f.scale.returnsPerDay, howFound(f));
  addFound(text, "scale factor", f.scale.factor, howScaled(f));
  addFound(text, "mean per step", f.scale.mean, howMean(f));

  addHeading(text, "per step", {"data", "target", "table as drawn"});
  addRow(text, "mean", {f.data.mean, f.target.mean, f.table.mean});
  addRow(text, "standard deviation",
         {f.data.standardDeviation, f.target.standardDeviation, f.table.standardDeviation});
  addRow(text, "skewness", {f.data.skewness, f.target.skewness, f.table.skewness});
  addRow(text, "excess kurtosis",
         {f.data.excessKurtosis, f.target.excessKurtosis, f.table.excessKurtosis});
  addRow(text, "minimum", {f.data.minimum, f.target.minimum, f.table.minimum});
  addRow(text, "maximum", {f.data.maximum, f.target.maximum, f.table.maximum});

  const double steps = f.scale.stepsPerDay;
  const double tableMean = steps * f.table.mean;
  const double tableDeviation = std::sqrt(steps) * f.table.standardDeviation;
  // The daily standard deviations over a year of independent trading days.
  const double year = std::sqrt(f.tradingDays);
  const std::string annualised = "daily x sqrt(" + numberText(f.tradingDays) + " trading days)";
  if (sessions) {
    addHeading(text, "per day", {"in session", "close to close", "table as drawn"});
    addRow(text, "daily mean", {inSessionDailyMean(f), closeToCloseDailyMean(f), tableMean});
    addRow(text, "daily standard deviation",
           {inSessionDailyDeviation(f), closeToCloseDailyDeviation(f), tableDeviation});
    addRow(text, "annualised volatility",
           {inSessionDailyDeviation(f) * year, closeToCloseDailyDeviation(f) * year,
            tableDeviation * year},
           annualised);
  } else {
    addHeading(text, "per day", {"data", "table as drawn"});
    addRow(text, "daily mean", {inSessionDailyMean(f), tableMean});
    addRow(text, "daily standard deviation", {inSessionDailyDeviation(f), tableDeviation});
    addRow(text, "annualised volatility",
           {inSessionDailyDeviation(f) * year, tableDeviation * year}, annualised);
  }

  addDay(text, f);
  if (f.canonical) addCanonical(text, f);
  if (f.fit) addFit(text, *f.fit);

  text += "\nThe table's mean differs from the target's by ";
  appendNumber(text, meanMiss(f));
  text += " standard deviations, its standard deviation by " + percent(spreadMiss(f)) + ".\n";
  return text;
}

std::string boundsWarning(const DistFigures& f) {
  std::string text = "warning: ";
  if (f.canonical) {
    // The rows are the history's table's; the tilt of their weights is what misses.
    text += "the tilt of the weights makes the table miss the accuracy bounds (its ";
    appendInteger(text, f.rows);
    text += " rows, of at most ";
    appendInteger(text, f.maxRows);
    text += ", are the history's; more rows do not close it)";
  } else if (f.rows < f.maxRows) {
    text += "the table of ";
    appendInteger(text, f.rows);
    text += " rows (at most ";
    appendInteger(text, f.maxRows);
    text += ") misses the accuracy bounds";
  } else {
    text += "with at most ";
    appendInteger(text, f.maxRows);
    text += " rows the table misses the accuracy bounds";
  }
  text += ": its mean differs from the target's by ";
  appendNumber(text, meanMiss(f));
  text += " standard deviations (bound ";
  appendNumber(text, chosenMean(f) ? kChosenMeanBound : kMeanBound);
  text += "), its standard deviation by " + percent(spreadMiss(f)) + " (bound " +
          percent(kSpreadBound) + ")";
  return text;
}

std::string unevenSessionsWarning(const SessionLengths& lengths, const std::string& days) {
  return "warning: " + std::to_string(lengths.uneven) + " of " +
         std::to_string(lengths.sessions) + " " + days + " hold more than " +
         percent(kUnevenShare) + " more or fewer returns than the median of " +
         numberText(lengths.median) + " (from " + std::to_string(lengths.shortest) + " to " +
         std::to_string(lengths.longest) + "); each day of the table stands for a median one";
}

std::string unsessionedDatesWarning(const UnsessionedDates& dates) {
  return "warning: column '" + dates.column + "' holds " + std::to_string(dates.dates) +
         " dates (" + dates.first + " to " + dates.last +
         ") and no --session is given, so the " + std::to_string(dates.dates - 1) +
         (dates.dates == 2 ? " move" : " moves") +
         " from one date's last price to the next date's first count as returns; --session " +
         dates.column + " keeps them apart as gaps";
}

std::optional<std::string> shortHistoryWarning(std::optional<std::int64_t> days, bool dates,
                                               std::int64_t returns) {
  std::string few;
  if (days && *days < kFewSessions) {
    few = std::to_string(*days) + (dates ? (*days == 1 ? " date" : " dates")
                                         : (*days == 1 ? " session" : " sessions")) +
          ", fewer than " + std::to_string(kFewSessions);
  }
  if (returns < kFewReturns) {
    if (!few.empty()) few += ", and ";
    few += std::to_string(returns) + (returns == 1 ? " return" : " returns") + ", fewer than " +
           std::to_string(kFewReturns);
  }
  if (few.empty()) return std::nullopt;
  return "warning: the history holds " + few +
         ": a table made from so short a history carries the volatility and the tails of those "
         "few days; a longer history gives a steadier one";
}

double bandCutShare(const DistFigures& f) {
  return f.historyDays > 0
             ? static_cast<double>(f.historyBandCut) / static_cast<double>(f.historyDays)
             : std::nan("");
}

double bandHeldVolatility(const DistFigures& f) {
  return f.tableDay.deviation * std::sqrt(f.tradingDays);
}

std::optional<std::string> bandCutWarning(const DistFigures& f) {
  const double share = bandCutShare(f);
  if (!(share > kMostBandCut)) return std::nullopt;
  return "warning: the band of 1/1.07 to 1.07 of a day's start cuts " + percent(share) +
         " of the history's days (" + std::to_string(f.historyBandCut) + " of " +
         std::to_string(f.historyDays) + "), more than " + percent(kMostBandCut) +
         ": the pricer sees an annualised volatility of " + numberText(bandHeldVolatility(f)) +
         " after it, the table " +
         numberText(std::sqrt(f.scale.stepsPerDay) * f.table.standardDeviation *
                std::sqrt(f.tradingDays)) +
         " before it";
}

std::optional<std::string> percentRateWarning(const std::string& what, const std::string& noun,
                                              double value) {
  if (!(std::fabs(value) >= kPercentSized)) return std::nullopt;
  return "warning: " + what + " is " + numberText(value) + ": read as " + numberText(value) +
         " a year, " + percent(value) + "; a " + noun + " of " + numberText(value) + "% is " +
         numberText(value / 100.0);
}

std::optional<std::string> largeMeanWarning(const DistFigures& f) {
  if (!chosenMean(f) || !(std::fabs(f.target.mean) > f.target.standardDeviation)) {
    return std::nullopt;
  }
  const std::string step = "1/" + std::to_string(f.scale.stepsPerDay) + " of a day";
  const std::string units = takesRate(f.meanChoice)
                                ? "the rate (key 3) and --carry are in the same units, and a "
                                  "step is " + step
                                : "--mean gives the mean of one step, " + step;
  return "warning: the mean per step, " + numberText(f.target.mean) + " (" + howMean(f) +
         "), is larger in size than a step's standard deviation, " +
         numberText(f.target.standardDeviation) +
         ": every path drifts further in a step than the returns spread it; " + units;
}

}  // namespace empricer
