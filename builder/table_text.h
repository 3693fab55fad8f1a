// The rows as dist.csv text, and the check that the valuation's loader reads them back exactly.
#pragma once

#include <string>
#include <vector>

#include "builder/table_fit.h"
#include "engine/return_table.h"
#include "text/status.h"

namespace empricer {

// One "return,weight" line per row: the return in the shortest text that reads back as the
// same double (at most 17 significant digits), the weight as a whole number.
std::string tableText(const std::vector<DistRow>& rows);

// Fails, naming `name`, unless `table` holds exactly `rows`: as many rows, and for each the
// bits of its return and of its weight.
Status checkTableHolds(const ReturnTable& table, const std::vector<DistRow>& rows,
                       const std::string& name);

// The return that each generator output draws from `table`, exactly as a valuation draws it
// (the engine's per-output table for the total weight truncated).
std::vector<double> drawsOf(const ReturnTable& table);

}  // namespace empricer
