// The two kinds of run, and the rows of a batch valued in process.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "runs/clock.h"
#include "runs/console_input.h"
#include "runs/progress.h"
#include "runs/row_sink.h"
#include "runs/run_config.h"
#include "runs/settings.h"
#include "engine/quotes/calibration_quotes.h"
#include "engine/table/distribution_cache.h"
#include "engine/table/random_generator.h"
#include "engine/rows/row_valuer.h"
#include "engine/simulation/valuation_queue.h"
#include "text/status.h"

namespace empricer {

class QuoteBook;
class SmilePlot;
struct BatchFile;

// What a run uses besides the settings.
struct RunContext {
  Clock& clock;
  ConsoleInput& console;
  RandomGenerator& generator;
  ValuationQueue& queue;
  DistributionCache& distribution;  // dist.csv as last read
  Progress& progress;
  RunConfig config;        // what the run reads of its options
  std::int64_t startTime;  // the program's start, for the elapsed times
  // The outputs of every valued row beyond the console and Batch_Result.csv, in the order each
  // row reaches them (the quotes' accounting, the picture, the results file).
  RowSinks sinks{};
  // --quotes: the market's quote of each row (quoteOf), for its valuer and its outputs.
  const QuoteBook* quotes = nullptr;
  // --plot with --calibrate: the picture the table's own smile goes into (drawTableSmile).
  SmilePlot* tableSmile = nullptr;
  // --calibrate: the quoted prices by S0, and the log of each S0's calibration.
  const std::map<double, std::vector<QuotedPrice>>* calibration = nullptr;
  CalibrationLog* calibrationLog = nullptr;
  const char* calibrationFile = "";
  // How the rows are valued: chosen once for the run (chooseMethod), handed to makeValuer.
  ValuationMethod method = ValuationMethod::simulation;
  // Rows valued in process (valueRowsOf): told of the progress, answers whether the run goes
  // on (false stops it with a failure of kind stopped).
  std::function<bool(double share)> listen{};
  // The run's warnings, each a line's text without "empricer: warning: "; standard error
  // when not set.
  std::function<void(const std::string& text)> warn{};
};

// A warning of the run: to `run.warn`, or to standard error as "empricer: warning: TEXT".
void warnOf(RunContext& run, const std::string& text);


// Asks for the underlying price, the strike and the days, values them, writes the report.
// Fails with the message the program stops with.
Status runManual(const RunSettings& settings, RunContext& run);

// Values every row of "batch.csv" (or the rows the options choose) into "Batch_Result.csv"
// with a console echo per row. Fails with the message the program stops with; the rows
// before a failure stay written.
Status runBatch(const RunSettings& settings, RunContext& run);

// The rows of `batch` (read from the text of a batch.csv) valued as a batch run values them,
// in process: no console lines, no Batch_Result.csv and no temporary file; only `run.sinks`
// take the rows (and `run.listen` is told of the progress). Fails with the stop message.
Status valueRowsOf(BatchFile& batch, RunContext& run);

}  // namespace empricer
