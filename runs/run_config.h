// What a run reads of its options, as plain values: the row loop, the batch run and every
// row's turn go by these. The command line fills them from its options (runConfigOf), the
// Python module from its own arguments read the same way.
#pragma once

#include <cstdint>
#include <optional>

#include "engine/valuation/constants.h"

namespace empricer {

// A shard of a batch: data rows `first` to `last`, counted from 1.
struct RowRange {
  std::int64_t first = 1;
  std::int64_t last = INT64_MAX;  // INT64_MAX: to the end
};

struct RunConfig {
  int threads = 1;                     // threads for the valuations, the calling one included
  std::optional<std::uint32_t> seed;   // instead of the clock
  std::optional<RowRange> rows;        // value only these batch rows
  bool standardErrors = false;         // report the Monte Carlo standard errors
  double tradingDays = 252.0;          // days in a year, for the yearly volatility
  std::int32_t stepsPerDay = kDefaultStepsPerDay;  // the steps of a day
  // How the rows are valued, as the options ask (chooseMethod decides from these): the rows of
  // each S0 on one set of paths, or the figures' limits from the exact terminal law.
  bool chain = false;
  bool exact = false;
};

}  // namespace empricer
