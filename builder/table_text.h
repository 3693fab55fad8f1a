// The rows as dist.csv text, and the check that the valuation's loader reads them back exactly.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "builder/moments.h"
#include "builder/table_fit.h"
#include "engine/table/return_table.h"
#include "text/status.h"

namespace empricer {

// A row whose weight need not be whole (a tilted table's).
struct TiltedRow {
  double ret = 0.0;
  double weight = 0.0;
};

// One "return,weight" line per row: the return in the shortest text that reads back as the
// same double (at most 17 significant digits), the weight as a whole number (DistRow) or in
// the shortest text that reads back as it (TiltedRow).
std::string tableText(const std::vector<DistRow>& rows);
std::string tableText(const std::vector<TiltedRow>& rows);

// Fails, naming `name`, unless `table` holds exactly `rows`: as many rows, and for each the
// bits of its return and of its weight.
Status checkTableHolds(const ReturnTable& table, const std::vector<DistRow>& rows,
                       const std::string& name);
Status checkTableHolds(const ReturnTable& table, const std::vector<TiltedRow>& rows,
                       const std::string& name);

// The table that `text` is, read as the valuation reads dist.csv; `name` names it in messages.
Outcome<std::unique_ptr<ReturnTable>> tableOfText(const std::string& text,
                                                  const std::string& name);

// The moments of the draws of the table that `text` is, as the valuation reads it.
Outcome<Moments> drawnMoments(const std::string& text, const std::string& name);

// The return that each generator output draws from `table`, exactly as a valuation draws it
// (the engine's per-output table for the total weight truncated).
std::vector<double> drawsOf(const ReturnTable& table);

}  // namespace empricer
