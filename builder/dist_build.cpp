#include "builder/dist_build.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "builder/canonical_tilt.h"
#include "builder/day_scale.h"
#include "builder/dist_report.h"
#include "builder/history_days.h"
#include "builder/output_files.h"
#include "builder/price_history.h"
#include "builder/quote_fit.h"
#include "builder/quantile_targets.h"
#include "builder/rate_settings.h"
#include "builder/svg_picture.h"
#include "builder/table_fit.h"
#include "builder/table_text.h"
#include "engine/table/draw_table.h"
#include "engine/table/return_table.h"
#include "text/input_stream.h"
#include "text/same_file.h"

namespace empricer {

namespace {

// Input that cannot be used, whatever kept it from being read.
Failure unusable(std::string message) { return Failure{std::move(message)}; }
Failure unusable(const Status& failed) { return unusable(failed.message()); }

// An output that cannot be made (cannotOpen) or written, or that does not read back.
Failure unwritable(const Status& failed) {
  return Failure{failed.message(), failed.kind() == FailureKind::cannotOpen
                                       ? FailureKind::cannotOpen
                                       : FailureKind::cannotWrite};
}

Failure noSpread(const std::string& prices, int stepsPerDay) {
  return unusable(prices + ": the returns scaled to " + std::to_string(stepsPerDay) +
                  (stepsPerDay == 1 ? " step" : " steps") +
                  " a day have no spread that a table can hold");
}

bool finiteMoments(const Moments& m) {
  return std::isfinite(m.mean) && std::isfinite(m.standardDeviation) &&
         std::isfinite(m.skewness) && std::isfinite(m.excessKurtosis) &&
         std::isfinite(m.minimum) && std::isfinite(m.maximum);
}

// A day of `steps` steps of `table` as empricer draws it.
DayShape tableDayShape(const ReturnTable& table, int steps) {
  auto draws = std::make_unique<DrawTable>();
  buildDrawTable(table, static_cast<std::int32_t>(table.totalWeight), *draws);
  return dayShapeOf(*draws, steps);
}

// The mean that the sampler draws from `rows`, read as the valuation reads their text.
Outcome<double> drawnMean(const std::vector<DistRow>& rows, const std::string& name) {
  Outcome<Moments> drawn = drawnMoments(tableText(rows), name);
  if (!drawn.ok()) return failureOf(drawn);
  return drawn.value().mean;
}

// The outputs are files of their own: neither the price history nor the settings file read,
// nor each other.
Status outputsApartFromInputs(const DistOptions& options) {
  std::vector<NamedFile> outputs = {{options.out, "--out " + options.out}};
  if (options.plot) outputs.push_back({*options.plot, "--plot " + *options.plot});
  std::vector<NamedFile> inputs = {{options.prices, "the price history " + options.prices}};
  if (takesRate(options.mean)) {
    inputs.push_back({options.setup, "the settings file " + options.setup});
  }
  if (options.fit) inputs.push_back({*options.fit, "the quotes " + *options.fit});
  return outputsApart(outputs, inputs);
}

// A number of returns per day as given, for a message.
std::string givenNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

// The returns per day given against the history's own bars: daily closes are 1 a day, and
// bars of s seconds hold at most a day of 86400 / s.
Status barsFitTheDay(const PriceHistory& history, const DistOptions& options) {
  if (!options.returnsPerDay) return {};
  const double n = *options.returnsPerDay;
  const std::string given = "--returns-per-day " + givenNumber(n);
  if (history.daily && !options.session && n != 1.0) {
    return Failure{options.prices + ": the dates show one price a day (" +
                   std::to_string(history.daily->dates) + " dates, " + history.daily->first +
                   " to " + history.daily->last + "): daily closes, 1 return a day, but " +
                   given + " reads " + givenNumber(n) +
                   " of them as a day; leave it out (--steps-per-day T makes a day of T steps "
                   "from the daily returns)"};
  }
  if (history.barSeconds && *history.barSeconds > 0.0 && n * *history.barSeconds > 86400.0) {
    return Failure{options.prices + ": its bars are " + givenNumber(*history.barSeconds) +
                   " seconds apart (the median within a date), so " + given +
                   " makes a day of " + givenNumber(n * *history.barSeconds / 3600.0) +
                   " hours; a day holds at most " +
                   givenNumber(std::floor(86400.0 / *history.barSeconds)) + " such returns"};
  }
  return {};
}

// The warnings of a build whose files are in place, in this order: uneven sessions, missed
// bounds, dates read without sessions, a short history, a mean larger than the spread.
std::vector<std::string> warningsOf(const DistFigures& figures, const PriceHistory& history,
                                    const DistOptions& options) {
  std::vector<std::string> warnings = history.notes;
  if (figures.lengths && figures.lengths->uneven > 0) {
    warnings.push_back(
        unevenSessionsWarning(*figures.lengths, options.session ? "sessions" : "dates"));
  }
  if (!meetsBounds(figures)) warnings.push_back(boundsWarning(figures));
  std::optional<std::int64_t> days;  // the sessions, or the dates of a column of dates
  if (options.session) days = figures.sessionCount;
  if (history.unsessionedDates) {
    warnings.push_back(unsessionedDatesWarning(*history.unsessionedDates));
    days = history.unsessionedDates->dates;
  }
  if (auto few = shortHistoryWarning(days, !options.session, figures.returnCount)) {
    warnings.push_back(*few);
  }
  if (auto large = largeMeanWarning(figures)) warnings.push_back(*large);
  if (auto cut = bandCutWarning(figures)) warnings.push_back(*cut);
  if (takesRate(options.mean)) {
    if (auto rate = percentRateWarning("key 3 of " + options.setup + ", the rate,", "rate",
                                       figures.rates.rate)) {
      warnings.push_back(*rate);
    }
    if (options.carry) {
      if (auto carry = percentRateWarning("--carry", "carry", *options.carry)) warnings.push_back(*carry);
    }
  }
  if (figures.fit) {
    if (auto unreached = unreachedQuotesWarning(*figures.fit)) warnings.push_back(*unreached);
    if (auto outside = outsideQuotesWarning(*figures.fit)) warnings.push_back(*outside);
  }
  return warnings;
}

// The fit of --fit: its quotes read (a file that cannot be read or a line refused stops before
// any table is written, status 2 for what is wrong in the file), then the fit.
Outcome<QuoteFit> fitToQuotes(const std::vector<DistRow>& rows, double mean,
                              const DistOptions& options, const DistFigures& figures) {
  QuoteBook book;
  if (Status read = book.load(*options.fit); !read.ok()) {
    return Failure{read.message(), book.refused() ? FailureKind::badInput : read.kind()};
  }
  Outcome<std::vector<FitTarget>> targets =
      fitTargets(book.held(), mean, figures.rates, figures.scale.stepsPerDay, *options.fit);
  if (!targets.ok()) return failureOf(targets);
  if (targets.value().empty()) return unusable(*options.fit + ": no quote to fit");
  Outcome<std::vector<UnreachedTarget>> unreached =
      leaveOutUnreached(rows, mean, figures.rates, figures.scale.stepsPerDay, targets.value(),
                        *options.fit, options.out);
  if (!unreached.ok()) return failureOf(unreached);
  if (targets.value().empty()) {
    return unusable(*options.fit + ": no quote to fit: every one is out of the paths' reach (" +
                    unreached.value().front().reason + ")");
  }
  Outcome<QuoteFit> fit = fitQuotes(rows, mean, figures.rates, figures.scale.stepsPerDay,
                                    std::move(targets.value()), options.tradingDays, options.out);
  if (fit.ok()) fit.value().unreached = std::move(unreached.value());
  return fit;
}

// A failure of the fit's tilt names --fit, the option given, rather than --mean canonical.
std::string fittedMessage(std::string message) {
  const std::string canonical = "--mean canonical:";
  if (message.rfind(canonical, 0) == 0) message.replace(0, canonical.size(), "--fit:");
  return message;
}

// The canonical table's rows: `rows` tilted onto `mean` (and onto the annualised volatility of
// --target-vol); its figures, and the target as the history's `returns` under the same tilt,
// its mean the one sought.
Outcome<std::vector<TiltedRow>> tiltedOntoMean(const std::vector<DistRow>& rows, double mean,
                                               const std::vector<double>& returns,
                                               const DistOptions& options,
                                               DistFigures& figures) {
  const std::string& name = options.out;
  Outcome<CanonicalTable> made = Failure{"no table"};
  if (options.fit) {
    Outcome<QuoteFit> fitted = fitToQuotes(rows, mean, options, figures);
    if (!fitted.ok()) return Failure{fittedMessage(fitted.message()), fitted.kind()};
    made = fitted.value().table;
    figures.fit = std::move(fitted.value());
  } else if (options.targetVol) {
    made = volatilityTable(rows, mean,
                           *options.targetVol /
                               std::sqrt(figures.scale.stepsPerDay * options.tradingDays),
                           name);
  } else {
    made = canonicalTable(rows, mean, name);
  }
  if (!made.ok()) {
    // The tilt serves the option given: --fit or --target-vol when one of them was.
    std::string message = made.message();
    const std::string canonical = "--mean canonical:";
    if (message.rfind(canonical, 0) == 0 && (options.fit || options.targetVol)) {
      message.replace(0, canonical.size(), options.fit ? "--fit:" : "--target-vol:");
    }
    return Failure{message, made.kind()};
  }
  const CanonicalTable& table = made.value();
  figures.canonical = CanonicalFigures{
      table.theta,
      table.shape.curvature,
      options.targetVol,
      table.relativeEntropy,
      tiltedEffectiveSize(returns, table.theta, table.shape),
      table.effectiveSize,
      table.historySize,
      table.iterations};
  figures.target = tiltedMoments(returns, table.theta, table.shape);
  figures.target.mean = mean;
  return table.rows;
}

}  // namespace

Outcome<BuiltDistribution> buildDistribution(const DistOptions& options) {
  // Before the outputs' names are looked at, so that --force is not offered for an input.
  if (Status apart = outputsApartFromInputs(options); !apart.ok()) return unusable(apart);
  // Where the outputs go, before any work: a long fit is not run for an output that cannot
  // be written.
  OutputPlace tablePlace = OutputPlace::free;
  OutputPlace plotPlace = OutputPlace::free;
  for (const auto& [output, place] :
       {std::pair(std::optional(options.out), &tablePlace), std::pair(options.plot, &plotPlace)}) {
    if (!output) continue;
    const Outcome<OutputPlace> checked = checkOutputPlace(*output, options.force);
    if (!checked.ok()) return failureOf(checked);
    *place = checked.value();
  }
  DistFigures figures;
  figures.meanChoice = options.mean;
  std::optional<double> chosenMean;
  if (options.mean == MeanChoice::value) chosenMean = options.meanValue;
  if (takesRate(options.mean)) {
    const Outcome<RateSettings> rates = loadRateSettings(options.setup);
    if (!rates.ok()) return unusable(rates.status());
    figures.setupFile = options.setup;
    figures.rates = rates.value();
    figures.carry = options.carry;
  }

  Outcome<PriceHistory> loaded =
      loadPriceHistory(options.prices,
                       PriceReading{options.column, options.session, options.allowJumps});
  if (!loaded.ok()) return unusable(loaded.status());
  PriceHistory& history = loaded.value();

  figures.pricesFile = options.prices;
  figures.priceColumn = history.priceColumn;
  figures.sessionColumn = options.session.value_or("");
  figures.priceCount = history.priceCount;
  figures.sessionCount = history.sessionCount;
  figures.returnCount = static_cast<std::int64_t>(history.returns.size());
  figures.maxRows = options.maxRows;
  figures.tradingDays = options.tradingDays;
  figures.tableFile = options.out;
  figures.withGaps = options.withGaps;
  figures.data = momentsOf(history.returns.data(), history.returns.size());
  figures.gapCount = static_cast<std::int64_t>(history.gaps.size());
  if (!history.gaps.empty()) figures.gaps = momentsOf(history.gaps.data(), history.gaps.size());

  if (Status fits = barsFitTheDay(history, options); !fits.ok()) return unusable(fits);

  DayScaleInput day;
  day.daily = history.daily.has_value() && !options.session;
  day.data = figures.data;
  if (!history.gaps.empty()) day.gaps = figures.gaps;
  day.returnsPerDay = options.returnsPerDay;
  day.stepsPerDay = options.stepsPerDay;
  day.withGaps = options.withGaps;
  if (options.session) {
    figures.lengths = sessionLengths(history.sessionReturns);
    day.sessionMedian = figures.lengths->median;
  } else if (!history.dateReturns.empty()) {
    const SessionLengths dates = sessionLengths(history.dateReturns);
    day.dateMedian = dates.median;
    if (daySteps(day).found == DayFound::dateMedian) figures.lengths = dates;
  }
  const int steps = daySteps(day).stepsPerDay;
  if (takesRate(options.mean)) {
    // Without a carry, rate - 0 is the rate itself.
    chosenMean = riskNeutralMean(figures.rates, options.carry.value_or(0.0), steps);
    if (!std::isfinite(*chosenMean) || !(*chosenMean > -1.0)) {
      const char* from = options.carry ? "keys 3 and 4 and --carry" : "keys 3 and 4";
      return unusable(options.setup + ": " + from + " give no usable mean per step");
    }
  }
  // A canonical table keeps the returns of the data's mean and reaches its mean by the weights.
  const bool canonical = options.mean == MeanChoice::canonical;
  if (!canonical) day.chosenMean = chosenMean;
  figures.scale = dayScale(day);

  const HistoryDays days = historyDays(history, options.session.has_value(), options.withGaps,
                                       figures.scale.returnsPerDay);
  figures.daysCut = days.cut;
  figures.blockLength = days.blockLength;
  figures.historyDays = static_cast<std::int64_t>(days.returns.size());
  figures.historyHeldAtEnd = days.heldAtEnd;
  figures.historyBandCut = days.bandCut;
  if (!days.returns.empty()) {
    figures.historyDay = momentsOf(days.returns.data(), days.returns.size());
  } else {
    const double none = std::nan("");
    figures.historyDay = Moments{none, none, none, none, none, none};
  }

  // The target's moments are taken in file order, as the data's are.
  std::vector<double> sorted = std::move(history.returns);
  applyDayScale(sorted, figures.data.mean, figures.scale);
  figures.target = figures.scale.mapped ? momentsOf(sorted.data(), sorted.size()) : figures.data;
  std::sort(sorted.begin(), sorted.end());
  if (canonical) figures.scale.mean = *chosenMean;
  if (!(figures.target.standardDeviation > 0.0) || !finiteMoments(figures.target)) {
    return noSpread(options.prices, steps);
  }
  if (chosenMean && !canonical) figures.target.mean = *chosenMean;

  const std::vector<double> targets =
      quantileTargets(sorted, figures.target.mean, figures.target.standardDeviation);
  TableFit fit =
      fitTable(targets, kToleranceShare * figures.target.standardDeviation, options.maxRows);
  figures.rows = static_cast<int>(fit.rows.size());
  std::string text;
  std::vector<TiltedRow> tilted;
  if (canonical) {
    Outcome<std::vector<TiltedRow>> made =
        tiltedOntoMean(fit.rows, *chosenMean, sorted, options, figures);
    if (!made.ok()) return failureOf(made);
    tilted = std::move(made.value());
    text = tableText(tilted);
  } else if (chosenMean) {
    // Every row moves by what the draws miss of the chosen mean: each draw lies on a straight
    // line between two rows' returns, so each moves by as much, and the shape stays.
    const Outcome<double> drawn = drawnMean(fit.rows, options.out);
    if (!drawn.ok()) return unwritable(drawn.status());
    const double shift = *chosenMean - drawn.value();
    for (DistRow& row : fit.rows) row.ret += shift;
  }
  if (!canonical) text = tableText(fit.rows);

  // The table as the valuation will read it: from the file written, through its own loader.
  // Every file written goes when `outputs` does, unless it took its name.
  // An output through a device or a FIFO is read back from its text, and written last.
  PendingOutputs outputs;
  std::unique_ptr<ReturnTable> table;
  Status check;
  if (tablePlace == OutputPlace::through) {
    Outcome<std::unique_ptr<ReturnTable>> read = tableOfText(text, options.out);
    if (read.ok()) {
      table = std::move(read.value());
    } else {
      check = read.status();
    }
  } else {
    Outcome<std::string> tableFile = outputs.writeBeside(options.out, text);
    if (!tableFile.ok()) return unwritable(tableFile.status());
    table = std::make_unique<ReturnTable>();
    check = loadReturnTable(*table, tableFile.value().c_str());
  }
  if (check.ok()) {
    check = canonical ? checkTableHolds(*table, tilted, options.out)
                      : checkTableHolds(*table, fit.rows, options.out);
  }
  if (!check.ok()) return unwritable(check);
  const std::vector<double> draws = drawsOf(*table);
  figures.table = momentsOf(draws.data(), draws.size());
  // Summed over every output, the table's powers may overflow where the target's did not.
  if (!finiteMoments(figures.table)) return noSpread(options.prices, steps);
  figures.tableDay = tableDayShape(*table, steps);

  std::optional<std::string> plotThrough;  // a picture for a device or a FIFO
  if (options.plot) {
    std::string picture;
    if (options.fit) {
      // A fit's picture: a day of the history's table beside the fitted one's.
      Outcome<std::unique_ptr<ReturnTable>> before =
          tableOfText(tableText(fit.rows), options.out);
      if (!before.ok()) return unwritable(before.status());
      picture = dayDensityPicture(options.prices, drawsOf(*before.value()), draws, steps);
    } else {
      picture = svgPicture(options.prices, sorted, draws, figures.rows);
    }
    if (plotPlace == OutputPlace::through) {
      plotThrough = std::move(picture);
    } else {
      Outcome<std::string> written = outputs.writeBeside(*options.plot, picture);
      if (!written.ok()) return unwritable(written.status());
    }
  }
  // An output that appeared since the start counts as one that cannot be written.
  const Status moved = outputs.moveIntoPlace(options.force);
  if (!moved.ok()) return unwritable(moved);
  if (tablePlace == OutputPlace::through) {
    if (Status written = writeThrough(options.out, text); !written.ok()) {
      return unwritable(written);
    }
  }
  if (plotThrough) {
    if (Status written = writeThrough(*options.plot, *plotThrough); !written.ok()) {
      return unwritable(written);
    }
  }
  return BuiltDistribution{reportText(figures), warningsOf(figures, history, options)};
}

}  // namespace empricer
