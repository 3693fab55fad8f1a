#include "app/row_turn.h"

#include "app/stop_signals.h"

#include <cstdio>

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
  return {[&run](double share) { run.progress.update(share); }, noteTemporaryFile,
          forgetTemporaryFile};
}

const StandardErrors* shownErrors(const RunContext& run, const RowFigures& figures) {
  return run.options.standardErrors ? &figures.errors : nullptr;
}

Status writeDeskRow(RunContext& run, std::int64_t row, const ValuationRequest& request,
                    const RowFigures& figures, std::uint64_t cycleRepeats) {
  if (run.plot != nullptr) {
    run.plot->add(request.spot, request.days, request.strike, figures.desk.forward[kBasePath],
                  figures.desk.ivYear[kBasePath]);
  }
  // Exact figures have no sampling error: their standard error fields stay empty.
  return run.results != nullptr
             ? run.results->writeRow(row, request, figures.result,
                                     run.exact != nullptr ? nullptr : &figures.errors,
                                     figures.desk, cycleRepeats)
             : Status{};
}

void warnOfCycle(std::int64_t row, const ValuationDraws& draws) {
  std::fprintf(stderr, "empricer: warning: row %lld: %s\n", static_cast<long long>(row),
               cycleReason(draws).c_str());
  std::fflush(stderr);
}

}  // namespace empricer
