#include "engine/value_option.h"

#include <sys/stat.h>

#include <cstdio>

#include "engine/valuation_figures.h"
#include "engine/winning_probabilities.h"
#include "text/output_file.h"

namespace empricer {

namespace {

// The temporary file is written through a buffer of this size.
constexpr std::size_t kTemporaryBuffer = std::size_t{1} << 20;

bool isRegularFile(std::FILE* stream) {
  struct stat status;
  return ::fstat(::fileno(stream), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

Status completeValuation(ValuationQueue& queue, DistributionCache& distribution,
                         const ValuationFiles& files, ValuationResult& result,
                         const CompletionHooks& hooks) {
  if (Status loaded = distribution.refresh(files.distribution); !loaded.ok()) return loaded;
  const ValuationRequest request = queue.front();
  // The temporary file is created (or emptied) in every valuation, with the probabilities off
  // too: an empty file is left behind then, which users' scripts may look for. A symbolic link
  // of its name is never followed: it counts as a file that cannot be created.
  std::FILE* temporary = openScratchForWriting(files.temporary);
  if (temporary == nullptr && request.withProbabilities) return openFailure(files.temporary);
  std::FILE* rows = request.withProbabilities ? temporary : nullptr;
  if (rows != nullptr) std::setvbuf(rows, nullptr, _IOFBF, kTemporaryBuffer);

  bool writeFailed = false;  // the rest of the valuation then writes nothing more

  TrajectoryAccumulator sums(request.strike, hooks.standardErrors != nullptr);
  // The gamma's bump takes a pass over the draw table: only when the figures are asked for.
  const double bump =
      hooks.desk != nullptr ? gammaBump(distribution.current()->draws, request.days) : 0.0;
  if (hooks.desk != nullptr) sums.addDeskSums(bump);
  queue.completeNext(
      distribution,
      [&](const TrajectoryPrices& prices) {
        // The records of valuationRecordDays: the day before the last when there are two.
        const double* trajectory = prices.prices;
        for (std::int64_t t = 0; t < prices.count; ++t) {
          sums.add(terminalRecord(trajectory, prices.records),
                   dayBeforeRecord(trajectory, prices.records));
          trajectory += prices.records * kPathCount;
        }
        if (rows != nullptr && !writeFailed) {
          writeFailed = std::fwrite(prices.rows.data(), 1, prices.rows.size(), rows) !=
                        prices.rows.size();
        }
      },
      hooks.progress);

  fillFigures(request, sums.sums(), result);
  if (hooks.standardErrors != nullptr) {
    *hooks.standardErrors = sums.standardErrors(discountOf(request));
  }
  if (hooks.desk != nullptr) {
    *hooks.desk = deskFigures(request, result, sums.deskSums(), bump, hooks.tradingDays);
  }
  if (temporary != nullptr) {
    // Without the probabilities the empty file serves nothing, and its close is not looked at.
    const bool regular = rows != nullptr && isRegularFile(temporary);
    const bool closed = closeWritten(temporary).ok();
    if (rows != nullptr && (writeFailed || !closed)) {
      // A partial file is of no use; only a file of our own is removed, never a device.
      if (regular) std::remove(files.temporary);
      return Failure{writeFailureText(files.temporary)};
    }
  }
  if (!request.withProbabilities) return {};
  return computeWinningProbabilities(request, result, files.temporary);
}

Status valueOption(const ValuationRequest& request, ValuationResult& result,
                   RandomGenerator& generator, const ValuationFiles& files,
                   ValuationQueue& queue, DistributionCache& distribution,
                   const CompletionHooks& hooks) {
  queue.enqueue(request, generator);
  return completeValuation(queue, distribution, files, result, hooks);
}

Status valueOption(const ValuationRequest& request, ValuationResult& result,
                   RandomGenerator& generator, const ValuationFiles& files) {
  DistributionCache distribution;
  ValuationQueue queue(1, SimulationChoice{});
  return valueOption(request, result, generator, files, queue, distribution);
}

}  // namespace empricer
