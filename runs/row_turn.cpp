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

namespace {

bool wantsDesk(const RunContext& run) { return run.results != nullptr || run.plot != nullptr; }

// The out-of-the-money side's point of the smile picture, with the market's volatility of
// its quote as a marker and, for sampled figures, error bars of two standard errors.
void addToPlot(RunContext& run, const ValuationRequest& request, const RowFigures& figures,
               const MarketQuote& quote) {
  const double forward = figures.desk.forward[kBasePath];
  const bool callSide = request.strike >= forward;
  const double quoted = callSide ? quote.call : quote.put;
  const double tradingDays = run.config.tradingDays;
  const double market =
      std::isnan(quoted)
          ? quoted
          : yearlyVolatilityOfPrice(request, quoted, callSide, forward, tradingDays);
  // The out-of-the-money side's value and standard error: the one the volatility is of. A
  // law's figures have no standard error: no bars, and never at the bound.
  const ValuationResult& r = figures.result;
  const double value = callSide ? r.callValue : r.putValue;
  const double error = !figures.sampled ? NAN
                       : callSide       ? figures.errors.call[kBasePath]
                                        : figures.errors.put[kBasePath];
  auto volatilityAt = [&](double shift) {
    return yearlyVolatility(request, callSide ? r.callValue + shift : r.callValue,
                            callSide ? r.putValue : r.putValue + shift, forward, tradingDays);
  };
  const double bound =
      discountOf(request) *
      std::fmax(callSide ? forward - request.strike : request.strike - forward, 0.0);
  run.plot->add(request.spot, request.days, request.strike, forward,
                figures.desk.ivYear[kBasePath], volatilityAt(-error), volatilityAt(error),
                value - 2.0 * error <= bound, market);
}

}  // namespace

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
  choice.standardErrors = run.config.standardErrors || wantsDesk(run);
  choice.desk = wantsDesk(run);
  choice.tradingDays = run.config.tradingDays;
  choice.vega = run.results != nullptr;
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
    if (rows.rows[r].valued && valuer.refusal(r).empty()) {
      most = std::max(most, valuer.drawsOf(r).repeats());
    }
  }
  return most;
}

const StandardErrors* shownErrors(const RunContext& run, const RowFigures& figures) {
  return run.config.standardErrors ? &figures.errors : nullptr;
}

Status drawTableSmile(RunContext& run, const RunRows& rows) {
  if (run.plot == nullptr || run.calibration == nullptr) return {};
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
    if (!rows.rows[r].valued || !valuer->refusal(r).empty()) continue;
    RowFigures figures{};
    if (Status valued = valuer->value(r, figures); !valued.ok()) {
      run.progress.clear();
      return valued;
    }
    run.progress.clear();
    const ValuationRequest request = requestOf(rows, r);
    run.plot->addTableOwn(request.spot, request.days, request.strike,
                          figures.desk.forward[kBasePath], figures.desk.ivYear[kBasePath]);
  }
  return {};
}

void drawCalibrationQuotes(RunContext& run, const ValuationRequest& common) {
  if (run.plot == nullptr || run.calibrationLog == nullptr) return;
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
      run.plot->addMarket(p.spot, p.days, p.strike, forward, volatility(0.5 * (p.bid + p.ask)),
                          volatility(p.bid), volatility(p.ask));
    }
  }
}

MarketQuote quoteOf(const RunContext& run, const ValuationRequest& request) {
  return run.quotes != nullptr ? run.quotes->find(request.spot, request.strike, request.days)
                               : MarketQuote{};
}

Status writeDeskRow(RunContext& run, std::int64_t row, const ValuationRequest& request,
                    const RowFigures& figures, std::uint64_t cycleRepeats) {
  const MarketQuote quote = quoteOf(run, request);
  if (run.quotes != nullptr) run.quotes->noteRow(request.spot, request.strike, request.days);
  if (run.plot != nullptr) addToPlot(run, request, figures, quote);
  return run.results != nullptr ? run.results->writeRow(row, request, figures, cycleRepeats, quote)
                               : Status{};
}

void warnOfCycle(RunContext& run, std::int64_t row, const ValuationDraws& draws) {
  warnOf(run, "row " + std::to_string(row) + ": " + cycleReason(draws));
}

void noteAccuracy(RunContext& run, std::int64_t row, const RowFigures& figures) {
  AccuracyTally& tally = run.accuracy;
  if (figures.unformedFigure >= 0 && tally.unformedRows++ == 0) {
    tally.firstUnformedRow = row;
    tally.firstUnformedFigure = figures.unformedFigure;
  }
  if (std::isnan(figures.errorRatio)) {
    // A figure beyond a double has its own warning: its NaN is no input's.
    if (figures.unformedFigure < 0 && tally.nanRows++ == 0) tally.firstNanRow = row;
  } else if (std::isinf(figures.errorRatio)) {
    if (tally.combRows++ == 0) tally.firstCombRow = row;
  } else if (figures.errorRatio > 1.0) {
    ++tally.rows;
    if (figures.errorRatio > tally.worst) {
      tally.worst = figures.errorRatio;
      tally.worstRow = row;
      tally.worstFigure = figures.errorFigure;
    }
  }
}

void warnOfAccuracy(RunContext& run) {
  const AccuracyTally& tally = run.accuracy;
  const auto rows = [](std::int64_t n) {
    return std::to_string(n) + (n == 1 ? " row" : " rows");
  };
  if (tally.nanRows > 0) {
    warnOf(run, "the exact figures of " + rows(tally.nanRows) + " (the first: row " +
                    std::to_string(tally.firstNanRow) +
                    ") are not all numbers: a return of dist.csv or an input of the row is not "
                    "a number");
  }
  if (tally.unformedRows > 0) {
    warnOf(run, "the exact figures of " + rows(tally.unformedRows) + " (the first: row " +
                    std::to_string(tally.firstUnformedRow) + ", " +
                    exactFigureName(tally.firstUnformedFigure) +
                    ") are not all formed: a figure beyond the largest number a double holds "
                    "(1.8e+308) shows as inf, or as nan where it has no sign; the start or the "
                    "days are too large for it");
  }
  if (tally.combRows > 0) {
    warnOf(run, "the exact figures of " + rows(tally.combRows) + " (the first: row " +
                    std::to_string(tally.firstCombRow) +
                    ") are held to no bound: dist.csv's returns sit on a few values spaced "
                    "like ticks, the sums of their steps are point masses that the exact law's "
                    "lattice smooths, and their probabilities and deltas may be off by far more "
                    "than 1e-07 (exact_error inf)");
  }
  if (tally.rows > 0) {
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.3g", tally.worst);
    const std::string figure = exactFigureName(tally.worstFigure);
    warnOf(run, "the exact figures of " + rows(tally.rows) +
                    " may be further from their limits than their bounds (values 1e-07 x "
                    "start, probabilities and deltas 1e-07); the worst: row " +
                    std::to_string(tally.worstRow) + (figure.empty() ? "" : ", " + figure) +
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
