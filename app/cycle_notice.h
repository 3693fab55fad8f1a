// Rows whose valuation takes more draws than the generator's outputs' cycle of 2^31: past it
// the trajectories repeat earlier ones, so more of them add no information, while the
// standard errors keep falling as if they did.
#pragma once

#include <cstdint>
#include <string>

#include "app/settings.h"
#include "text/line_reader.h"

namespace empricer {

// The draws of one valuation: `trajectories` trajectories of `days` days (for a chain, the
// days of its group's longest row).
struct ValuationDraws {
  std::int32_t trajectories;
  std::int32_t days;
  std::uint64_t draws() const;
  std::uint64_t repeats() const;  // how many times the draws wrap around the cycle
};

// Why a row's figures are less precise than their standard errors say: for a warning and for
// --check. Only for draws past the cycle.
std::string cycleReason(const ValuationDraws& valuation);

// The most repeats of any valued row of batch.csv within rows [first, last] (counted as --rows
// counts), each row valued on its own or, with `chain`, in its S0's group; of `batchText`
// instead of the file when given.
std::uint64_t mostCycleRepeats(const RunSettings& settings, bool chain, std::int64_t first,
                               std::int64_t last, const std::string* batchText = nullptr);

}  // namespace empricer
