#include "runs/row_turn.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "runs/day_notice.h"
#include "runs/file_names.h"
#include "engine/quotes/quote_book.h"
#include "runs/stop.h"
#include "runs/stop_signals.h"
#include "engine/desk/desk_figures.h"
#include "engine/quotes/calibration_quotes.h"
#include "engine/exact/exact_valuation.h"
#include "engine/table/random_generator.h"
#include "engine/desk/valuation_figures.h"

namespace empricer {

void warnOf(RunContext& run, const std::string& text) {
  if (run.warn) {
    run.warn(text);
    return;
  }
  std::fprintf(stderr, "empricer: warning: %s\n", text.c_str());
  std::fflush(stderr);
}

FigureChoice figureChoice(const RunContext& run) {
  FigureChoice choice;
  choice.standardErrors = run.config.standardErrors;
  choice.tradingDays = run.config.tradingDays;
  for (const RowSink* sink : run.sinks) sink->want(choice);
  return choice;
}

ValuerTools valuerTools(RunContext& run, const char* temporaryFile) {
  CompletionWatch watch{[&run](double share) {
                          run.progress.update(share);
                          return !run.listen || run.listen(share);
                        },
                        openingTemporaryFile, noteTemporaryFile, forgetTemporaryFile};
  return {run.distribution,   kDistributionFileName, figureChoice(run),
          std::move(watch),   run.config.threads,    run.queue,
          run.generator,      temporaryFile,         run.calibration,
          run.calibrationLog, run.calibrationFile};
}

std::uint64_t mostRepeats(const RowValuer& valuer, const RunRows& rows) {
  std::uint64_t most = 0;
  for (std::size_t r = rows.first; r < rows.end; ++r) {
    if (rows.rows[r].valued && valuer.refusal(r).ok()) {
      most = std::max(most, valuer.drawsOf(r).repeats());
    }
  }
  return most;
}

const StandardErrors* shownErrors(const RunContext& run, const RowFigures& figures) {
  return run.config.standardErrors ? &figures.errors : nullptr;
}

Status drawTableSmile(RunContext& run, const RunRows& rows) {
  if (run.tableSmile == nullptr || run.calibration == nullptr) return {};
  RandomGenerator generator;
  seedRandom(generator, run.config.seed ? *run.config.seed
                                        : static_cast<std::uint32_t>(run.startTime));
  ValuerTools made = valuerTools(run, nullptr);
  made.choice.vega = false;
  // Not the run's generator: its draws were the calibrated rows'.
  const ValuerTools tools{made.distribution, made.distributionFile, made.choice,
                          std::move(made.watch), made.threads,   made.queue,
                          generator,            nullptr,         nullptr,
                          nullptr,              ""};
  const std::unique_ptr<RowValuer> valuer = makeValuer(run.method, rows, tools);
  if (Status prepared = valuer->prepare(); !prepared.ok()) return prepared;
  for (std::size_t r = rows.first; r < rows.end; ++r) {
    if (!rows.rows[r].valued || !valuer->refusal(r).ok()) continue;
    RowFigures figures{};
    if (Status valued = valuer->value(r, figures); !valued.ok()) {
      run.progress.clear();
      return valued;
    }
    run.progress.clear();
    const ValuationRequest request = requestOf(rows, r);
    run.tableSmile->addTableOwn(request.spot, request.days, request.strike,
                          figures.desk.forward[kBasePath], figures.desk.ivYear[kBasePath]);
  }
  return {};
}

void drawCalibrationQuotes(const RunContext& run, SmilePlot& plot,
                           const ValuationRequest& common) {
  if (run.calibrationLog == nullptr) return;
  const double tradingDays = run.config.tradingDays;
  for (const SpotCalibration& s : run.calibrationLog->spots) {
    for (const QuotedPrice& p : s.prices) {
      const auto e = static_cast<std::size_t>(
          std::find(s.expiryDays.begin(), s.expiryDays.end(), p.days) - s.expiryDays.begin());
      if (e >= s.forward.size()) continue;
      const double forward = s.forward[e];
      const bool outOfTheMoney = p.call == (p.strike >= forward);
      // The other side of the strike, when quoted and out of the money, is drawn instead.
      const bool otherDrawn =
          !outOfTheMoney &&
          std::any_of(s.prices.begin(), s.prices.end(), [&](const QuotedPrice& q) {
            return q.days == p.days && q.strike == p.strike && q.call != p.call;
          });
      if (otherDrawn) continue;
      ValuationRequest request = common;
      request.spot = p.spot;
      request.strike = p.strike;
      request.days = p.days;
      const auto volatility = [&](double price) {
        return yearlyVolatilityOfPrice(request, price, p.call, forward, tradingDays);
      };
      plot.addMarket(p.spot, p.days, p.strike, forward, volatility(0.5 * (p.bid + p.ask)),
                          volatility(p.bid), volatility(p.ask));
    }
  }
}

MarketQuote quoteOf(const RunContext& run, const ValuationRequest& request) {
  return run.quotes != nullptr ? run.quotes->find(request.spot, request.strike, request.days)
                               : MarketQuote{};
}

void warnOfCycle(RunContext& run, std::int64_t row, const ValuationDraws& draws) {
  warnOf(run, "row " + std::to_string(row) + ": " + cycleReason(draws));
}

Status AccuracyTally::row(const ValuedRow& valued) {
  const RowFigures& figures = valued.figures;
  const std::int64_t row = valued.number;
  if (figures.unformedFigure >= 0 && unformedRows_++ == 0) {
    firstUnformedRow_ = row;
    firstUnformedFigure_ = figures.unformedFigure;
  }
  if (std::isnan(figures.errorRatio)) {
    // A figure beyond a double has its own warning: its NaN is no input's.
    if (figures.unformedFigure < 0 && nanRows_++ == 0) firstNanRow_ = row;
  } else if (std::isinf(figures.errorRatio)) {
    if (combRows_++ == 0) firstCombRow_ = row;
  } else if (figures.errorRatio > 1.0) {
    ++rows_;
    if (figures.errorRatio > worst_) {
      worst_ = figures.errorRatio;
      worstRow_ = row;
      worstFigure_ = figures.errorFigure;
    }
  }
  return {};
}

void AccuracyTally::warn(RunContext& run) const {
  const auto rows = [](std::int64_t n) {
    return std::to_string(n) + (n == 1 ? " row" : " rows");
  };
  if (nanRows_ > 0) {
    warnOf(run, "the exact figures of " + rows(nanRows_) + " (the first: row " +
                    std::to_string(firstNanRow_) +
                    ") are not all numbers: a return of dist.csv or an input of the row is not "
                    "a number");
  }
  if (unformedRows_ > 0) {
    warnOf(run, "the exact figures of " + rows(unformedRows_) + " (the first: row " +
                    std::to_string(firstUnformedRow_) + ", " +
                    exactFigureName(firstUnformedFigure_) +
                    ") are not all formed: a figure beyond the largest number a double holds "
                    "(1.8e+308) shows as inf, or as nan where it has no sign; the start or the "
                    "days are too large for it");
  }
  if (combRows_ > 0) {
    warnOf(run, "the exact figures of " + rows(combRows_) + " (the first: row " +
                    std::to_string(firstCombRow_) +
                    ") are held to no bound: dist.csv's returns sit on a few values spaced "
                    "like ticks, the sums of their steps are point masses that the exact law's "
                    "lattice smooths, and their probabilities and deltas may be off by far more "
                    "than 1e-07 (exact_error inf)");
  }
  if (rows_ > 0) {
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.3g", worst_);
    const std::string figure = exactFigureName(worstFigure_);
    warnOf(run, "the exact figures of " + rows(rows_) +
                    " may be further from their limits than their bounds (values 1e-07 x "
                    "start, probabilities and deltas 1e-07); the worst: row " +
                    std::to_string(worstRow_) + (figure.empty() ? "" : ", " + figure) +
                    ", up to " + ratio +
                    " times its bound (each row's ratio: the results file's column "
                    "exact_error)");
  }
}

void warnOfDay(RunContext& run) {
  const std::shared_ptr<const LoadedDistribution>& loaded = run.distribution.current();
  if (loaded == nullptr) return;
  if (const auto notice = implausibleDayNotice(loaded->draws, run.config.stepsPerDay,
                                               run.config.tradingDays)) {
    warnOf(run, *notice);
  }
}

void warnOfSkips(RunContext& run, std::int64_t row, std::int64_t count, const std::string& why) {
  if (count <= 1) {
    warnOf(run, "row " + std::to_string(row) + ": " + why + ": the row is skipped");
    return;
  }
  std::string text = std::to_string(count);
  text.append(" rows (the first: row ").append(std::to_string(row));
  text.append(") are skipped; row ").append(std::to_string(row)).append(": ").append(why);
  warnOf(run, text);
}

}  // namespace empricer
