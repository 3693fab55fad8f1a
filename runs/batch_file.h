// batch.csv read once into one value: every data row as the run takes it, with the line it is
// on, for the run, its cycle pre-scan and progress count, and --check's chain figures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runs/run_config.h"
#include "runs/settings.h"
#include "engine/rows/row_valuer.h"
#include "text/input_stream.h"
#include "text/status.h"

namespace empricer {

struct BatchFile {
  RunRows rows;                     // every data row; the range is all of them until chosen
  std::vector<std::int64_t> lines;  // the line of the file each data row is on (from 1)
};

// The data rows of an open batch file: the non-empty reads after the header (the first read,
// whatever it holds), each read by readBatchRow, to the end of the file.
BatchFile readBatch(InputStream& stream, const RunSettings& settings);
// The same of the text of a batch file.
BatchFile batchOfText(const std::string& text, const RunSettings& settings);

// Narrows the rows a run values to data rows `shard.first` to `shard.last` (counted from 1).
void chooseRange(BatchFile& batch, const RowRange& shard);

}  // namespace empricer
