#include "engine/rows/row_valuer.h"

#include <algorithm>
#include <map>

#include "engine/rows/exact_rows.h"
#include "engine/simulation/path_simulation.h"
#include "engine/rows/simulated_rows.h"
#include "engine/desk/valuation_figures.h"
#include "text/number_text.h"

namespace empricer {

ValuationRequest requestOf(const RunRows& rows, std::size_t r) {
  ValuationRequest request = rows.common;
  request.spot = rows.rows[r].spot;
  request.strike = rows.rows[r].strike;
  request.days = rows.rows[r].days;
  return request;
}

Status checkCalibration(const RunRows& rows, const ValuerTools& tools,
                        const std::function<Status(std::size_t)>& refusal,
                        std::map<double, std::vector<double>>* forwards) {
  if (tools.calibration == nullptr) return {};
  if (Status loaded = tools.distribution.refresh(tools.distributionFile); !loaded.ok()) {
    return loaded;
  }
  std::map<double, bool> checked;
  for (std::size_t r = rows.first; r < rows.end; ++r) {
    if (!rows.rows[r].valued || rows.rows[r].days < 1 || !refusal(r).ok()) continue;
    const double spot = rows.rows[r].spot;
    if (checked.count(spot) > 0) continue;
    checked[spot] = true;
    const auto found = tools.calibration->find(spot);
    if (found == tools.calibration->end()) {
      std::string text;
      appendNumber(text, spot);
      return Failure{"row " + std::to_string(r + 1) + ": S0 " + text +
                         " has no quote to calibrate to in --calibrate's file",
                     FailureKind::refused};
    }
    ExactSetup setup;
    setup.growth = growthPerStep(requestOf(rows, r));
    setup.stepsPerDay = rows.common.stepsPerDay;
    if (Status reach = calibrationReach(tools.distribution.current()->draws, setup, spot,
                                        found->second, expiriesOf(found->second, rows.common),
                                        tools.calibrationFile,
                                        forwards != nullptr ? &(*forwards)[spot] : nullptr);
        !reach.ok()) {
      return reach;
    }
  }
  return {};
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

MethodDescription describeMethod(ValuationMethod method) {
  switch (method) {
    case ValuationMethod::exact:
      return {"exact", false};
    case ValuationMethod::simulation:
    case ValuationMethod::chains:
      break;
  }
  return {"simulation", true};
}

}  // namespace empricer
