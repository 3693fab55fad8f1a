#include "app/row_turn.h"

#include <cmath>
#include <cstdio>

#include "app/quote_book.h"
#include "app/stop_signals.h"
#include "engine/desk_figures.h"
#include "engine/valuation_figures.h"

namespace empricer {

namespace {

bool wantsDesk(const RunContext& run) { return run.results != nullptr || run.plot != nullptr; }

}  // namespace

FigureChoice figureChoice(const RunContext& run) {
  FigureChoice choice;
  choice.standardErrors = run.options.standardErrors || wantsDesk(run);
  choice.desk = wantsDesk(run);
  choice.tradingDays = run.options.tradingDays;
  return choice;
}

CompletionWatch watchOf(RunContext& run) {
  return {[&run](double share) {
            run.progress.update(share);
            if (run.listen) run.listen(share);
          },
          noteTemporaryFile, forgetTemporaryFile};
}

const StandardErrors* shownErrors(const RunContext& run, const RowFigures& figures) {
  return run.options.standardErrors ? &figures.errors : nullptr;
}

MarketQuote quoteOf(const RunContext& run, const ValuationRequest& request) {
  return run.quotes != nullptr ? run.quotes->find(request.spot, request.strike, request.days)
                               : MarketQuote{};
}

Status writeDeskRow(RunContext& run, std::int64_t row, const ValuationRequest& request,
                    const RowFigures& figures, std::uint64_t cycleRepeats) {
  const MarketQuote quote = quoteOf(run, request);
  if (run.quotes != nullptr) run.quotes->noteRow(request.spot, request.strike, request.days);
  if (run.plot != nullptr) {
    const double forward = figures.desk.forward[kBasePath];
    // The market's volatility of the out-of-the-money quote, as a marker.
    const bool callSide = request.strike >= forward;
    const double quoted = callSide ? quote.call : quote.put;
    const double market =
        std::isnan(quoted) ? quoted
                           : yearlyVolatilityOfPrice(request, quoted, callSide, forward,
                                                     run.options.tradingDays);
    if (run.exact != nullptr) {
      run.plot->setExact();
      run.plot->add(request.spot, request.days, request.strike, forward,
                    figures.desk.ivYear[kBasePath], NAN, NAN, false, market);
    } else {
      // The out-of-the-money side's value and standard error: the one the volatility is of.
      const ValuationResult& r = figures.result;
      const double value = callSide ? r.callValue : r.putValue;
      const double error = callSide ? figures.errors.call[kBasePath] : figures.errors.put[kBasePath];
      auto volatilityAt = [&](double shift) {
        return yearlyVolatility(request, callSide ? r.callValue + shift : r.callValue,
                                callSide ? r.putValue : r.putValue + shift, forward,
                                run.options.tradingDays);
      };
      const double bound = discountOf(request) *
                           std::fmax(callSide ? forward - request.strike : request.strike - forward, 0.0);
      run.plot->add(request.spot, request.days, request.strike, forward,
                    figures.desk.ivYear[kBasePath], volatilityAt(-error), volatilityAt(error),
                    value - 2.0 * error <= bound, market);
    }
  }
  // Exact figures have no sampling error: their standard error fields stay empty.
  return run.results != nullptr
             ? run.results->writeRow(row, request, figures.result,
                                     run.exact != nullptr ? nullptr : &figures.errors,
                                     figures.desk, cycleRepeats, quote, figures.profitCall,
                                     figures.profitPut)
             : Status{};
}

void warnOfCycle(std::int64_t row, const ValuationDraws& draws) {
  std::fprintf(stderr, "empricer: warning: row %lld: %s\n", static_cast<long long>(row),
               cycleReason(draws).c_str());
  std::fflush(stderr);
}

}  // namespace empricer
