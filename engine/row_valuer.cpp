#include "engine/row_valuer.h"

#include <algorithm>
#include <map>

#include "engine/exact_rows.h"
#include "engine/path_simulation.h"
#include "engine/simulated_rows.h"

namespace empricer {

ValuationRequest requestOf(const RunRows& rows, std::size_t r) {
  ValuationRequest request = rows.common;
  request.spot = rows.rows[r].spot;
  request.strike = rows.rows[r].strike;
  request.days = rows.rows[r].days;
  return request;
}

std::uint64_t ValuationDraws::draws() const { return drawsOf(trajectories, days, stepsPerDay); }

std::uint64_t ValuationDraws::repeats() const { return cycleRepeats(draws()); }

SpotGroups groupsBySpot(const std::vector<RunRow>& rows) {
  SpotGroups spots;
  std::map<double, std::size_t> bySpot;  // NaN is never found: each NaN row is its own group
  spots.groupOf.assign(rows.size(), 0);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (!rows[r].valued) continue;
    const double spot = rows[r].spot;
    const auto found = spot == spot ? bySpot.find(spot) : bySpot.end();  // 0.0 == -0.0
    if (found != bySpot.end()) {
      spots.groupOf[r] = found->second;
    } else {
      if (spot == spot) bySpot.emplace(spot, spots.groups.size());
      spots.groupOf[r] = spots.groups.size();
      spots.groups.emplace_back();
    }
    SpotGroups::Group& group = spots.groups[spots.groupOf[r]];
    group.rows.push_back(r);
    group.days = std::max(group.days, rows[r].days);
  }
  return spots;
}

std::unique_ptr<RowValuer> makeValuer(ValuationMethod method, const RunRows& rows,
                                      const ValuerTools& tools) {
  switch (method) {
    case ValuationMethod::chains:
      return simulatedChains(rows, tools);
    case ValuationMethod::exact:
      return exactRows(rows, tools);
    case ValuationMethod::simulation:
      break;
  }
  return simulatedRows(rows, tools);
}

}  // namespace empricer
