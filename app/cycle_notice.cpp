#include "app/cycle_notice.h"

#include <algorithm>
#include <map>
#include <vector>

#include "app/batch_rows.h"
#include "app/file_names.h"
#include "engine/path_simulation.h"
#include "engine/random_generator.h"
#include "text/input_stream.h"

namespace empricer {

std::uint64_t ValuationDraws::draws() const { return drawsOf(trajectories, days); }

std::uint64_t ValuationDraws::repeats() const { return cycleRepeats(draws()); }

std::string cycleReason(const ValuationDraws& valuation) {
  const std::uint64_t stepsPerTrajectory =
      static_cast<std::uint64_t>(valuation.days) * kStepsPerDay;
  const std::uint64_t repeats = valuation.repeats();
  return "it takes " + std::to_string(valuation.draws()) + " draws (" +
         std::to_string(valuation.trajectories) + " trajectories x " +
         std::to_string(kStepsPerDay) + " x " + std::to_string(valuation.days) +
         " days), and the generator's outputs repeat every 2^31 draws (these wrap " +
         std::to_string(repeats) + (repeats == 1 ? " time" : " times") + "): the cycle holds " +
         std::to_string(kOutputPeriod / stepsPerTrajectory) + " trajectories of " +
         std::to_string(valuation.days) +
         " days, and past that the standard errors and the spread between seeds overstate the "
         "precision";
}

std::uint64_t mostCycleRepeats(const RunSettings& settings, bool chain, std::int64_t first,
                               std::int64_t last, const std::string* batchText) {
  InputStream batch;
  if (batchText != nullptr) {
    openFromMemory(batch, batchText->data(), batchText->size());
  } else {
    openForReading(batch, kBatchFileName);
  }
  if (!isOpen(batch)) return 0;
  LineBuffer line{};
  readLine(batch, line);  // the header
  std::vector<BatchRow> rows;
  forEachLine(batch, line, [&](const LineBuffer& read) {
    rows.push_back(readBatchRow(read, settings));
  });
  // A group's days are its longest row's, over the whole file (NaN rows are groups of one).
  std::map<double, std::int32_t> groupDays;
  for (const BatchRow& row : rows) {
    if (!chain || !row.valued || row.request.spot != row.request.spot) continue;
    std::int32_t& days = groupDays[row.request.spot];
    days = std::max({days, row.request.days, 0});
  }
  std::uint64_t most = 0;
  const std::int64_t end = std::min<std::int64_t>(last, static_cast<std::int64_t>(rows.size()));
  for (std::int64_t r = first; r <= end; ++r) {
    const BatchRow& row = rows[static_cast<std::size_t>(r - 1)];
    if (!row.valued) continue;
    const double spot = row.request.spot;
    const std::int32_t days = chain && spot == spot ? groupDays[spot] : row.request.days;
    most = std::max(most, ValuationDraws{settings.trajectories, days}.repeats());
  }
  return most;
}

}  // namespace empricer
