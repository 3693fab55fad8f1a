// What a batch run reads of each row of batch.csv and writes for it, shared by the run that
// values row by row and the chain run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "runs/clock.h"
#include "runs/settings.h"
#include "engine/valuation/records.h"
#include "engine/valuation/row_pricer.h"
#include "text/line_reader.h"
#include "text/output_file.h"
#include "text/status.h"

namespace empricer {

// A data row: its request, or valued false when its days are out of range.
struct BatchRow {
  bool valued;
  ValuationRequest request;
};
BatchRow readBatchRow(const LineBuffer& line, const RunSettings& settings);

// The header line of Batch_Result.csv.
std::string resultHeader(bool withProbabilities, bool withErrors);

// A valued row's five console lines, its elapsed-time line and the rule below it, starting
// from the clock reading `rowStartTime`. Fails, and writes no more, when standard output does.
Status writeConsoleRows(const ValuationRequest& request, const ValuationResult& result,
                        const StandardErrors* errors, Clock& clock, std::int64_t rowStartTime);
// A valued row's five lines of Batch_Result.csv, each with its line end.
std::string resultRows(const ValuationRequest& request, const ValuationResult& result,
                       const StandardErrors* errors);
// Those lines written in one piece. Fails with "Error writing file: " and the file's name when
// they cannot be written; the rows before stay whole.
Status writeResultRows(RowFile& out, const ValuationRequest& request,
                       const ValuationResult& result, const StandardErrors* errors);

}  // namespace empricer
