#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/program_flow.h"
#include "runs/calibration_report.h"
#include "runs/file_names.h"
#include "runs/request_from_settings.h"
#include "runs/results_file.h"
#include "runs/row_sink.h"
#include "runs/row_turn.h"
#include "runs/folder_lock.h"
#include "engine/quotes/quote_book.h"
#include "runs/run_method.h"
#include "runs/run_outputs.h"
#include "runs/runs.h"
#include "runs/smile_plot.h"
#include "runs/stop.h"
#include "runs/stop_signals.h"
#include "engine/table/random_generator.h"
#include "text/command_line.h"
#include "text/int_conversion.h"
#include "text/number_text.h"

namespace empricer {

namespace {

// The lines above the run: the settings that every run shows, and the method when it is not
// the simulation.
Status showParameters(const RunSettings& settings, const RunMethod& method) {
  std::string rate = "Risk Free Rate:       ";
  appendNumber(rate, settings.riskFreeRate);
  std::string trajectories = "Num of Trajectories:  ";
  appendInteger(trajectories, settings.trajectories);
  for (const std::string& line : {std::string("PARAMETERS:"), rate, trajectories}) {
    if (Status shown = printLine(line); !shown.ok()) return shown;
  }
  if (!method.banner.empty()) {
    if (Status shown = printLine(method.banner); !shown.ok()) return shown;
  }
  return printLine("");
}

// A manual or batch run with what it writes beside the console (the quotes, when given, read
// already): the quotes' accounting, the smile picture and the results file, the sinks of its
// rows in that order.
Status runMode(std::int32_t mode, const RunSettings& settings, RunContext& context,
               const RunMethod& method, const ProgramOptions& options, QuoteBook& quotes) {
  QuoteNotes quoteNotes(quotes);
  ResultsFile results;
  SmilePlot plot;
  Status run;
  if (options.quotes) context.sinks.push_back(&quoteNotes);
  if (options.plot) {
    plot.setRun(method.description, options.tradingDays);
    context.sinks.push_back(&plot);
    if (options.calibrate) context.tableSmile = &plot;
  }
  if (options.results) {
    results.setRun(RunFacts{method.description, settings.trajectories, options.seed,
                            options.tradingDays});
    run = results.open(*options.results);
    context.sinks.push_back(&results);
  }
  if (run.ok()) {
    run = mode == kManualRunMode ? runManual(settings, context) : runBatch(settings, context);
  }
  if (run.ok() && options.results) run = results.close();
  if (run.ok() && context.calibrationLog != nullptr) {
    for (const std::string& line : calibrationSummary(*context.calibrationLog)) {
      std::fprintf(stderr, "empricer: %s\n", line.c_str());
    }
    for (const std::string& warning : calibrationWarnings(*context.calibrationLog)) {
      warnOf(context, warning);
    }
    std::fflush(stderr);
    if (options.calibrationReport) {
      run = writeCalibrationReport(*options.calibrationReport, *context.calibrationLog,
                                   requestFromSettings(settings), options.tradingDays);
    }
  }
  if (run.ok() && options.quotes) {
    const std::string said = quotes.reportText();
    std::fwrite(said.data(), 1, said.size(), stderr);
    std::fflush(stderr);
  }
  if (run.ok() && options.plot) {
    drawCalibrationQuotes(context, plot, requestFromSettings(settings));
    const auto& table = context.distribution.current();
    run = plot.write(*options.plot, settings.trajectories,
                     table != nullptr ? table->table.rowCount : 0);
  }
  return run;
}

// The run mode of the settings, asked for when they give 0. A run mode outside the 32-bit
// range selects nothing, like any value but 1 and 2.
Outcome<std::int32_t> runModeOf(RunSettings& settings, ConsoleInput& console) {
  if (truncateToInt32(settings.runMode) == 0) {
    if (Status asked = printText("Manual[1] or Batch[2] run? "); !asked.ok()) {
      return failureOf(asked);
    }
    readDouble(console, settings.runMode);
    if (Status shown = printLine(""); !shown.ok()) return failureOf(shown);
  }
  return truncateToInt32(settings.runMode).value_or(0);
}

// A failure told on standard error, as `kind` (refused: a usage error).
RunEnd onStandardError(const Status& failed, FailureKind kind) {
  return RunEnd{Failure{failed.message(), kind}, true};
}

// A manual or a batch run's outputs, before any file is made or emptied: checked against the
// inputs once the run mode is known (it decides whether Batch_Result.csv is one of them), then
// the files named on the command line locked for the run. What stops the run when it cannot
// go on.
RunEnd claimOutputs(const ProgramOptions& options, std::int32_t mode, OutputLock& results,
                    OutputLock& plot) {
  const RunFiles files{options.results, options.plot, options.quotes};
  if (Status apart = outputsApartFromInputs(files, mode == kBatchRunMode); !apart.ok()) {
    return onStandardError(apart, FailureKind::refused);
  }
  Status locked;
  if (options.results) locked = results.acquire(*options.results, "--results");
  if (locked.ok() && options.plot) locked = plot.acquire(*options.plot, "--plot");
  if (!locked.ok()) return onStandardError(locked, FailureKind::cannotOpen);
  return {};
}

}  // namespace

int exitStatusOf(const RunEnd& end) {
  if (end.status.ok()) return kDoneStatus;
  if (!end.onStandardError) return stopWith(end.status.message());
  std::fprintf(stderr, "%s\n", end.status.message().c_str());
  return end.status.kind() == FailureKind::refused ? kUsageStatus : kFailureStatus;
}

RunEnd runProgram(Clock& clock, ConsoleInput& console, const ProgramOptions& options,
                  const RunTuning& tuning) {
  // One run per folder: the lock is taken before any file is read, made or written.
  FolderLock lock;
  if (Status locked = lock.acquire(); !locked.ok()) {
    return onStandardError(locked, FailureKind::cannotOpen);
  }
  watchStopSignals(kTemporaryFileName);
  RandomGenerator generator;
  // The generator takes the low 32 bits of the time in seconds, or the seed given. The clock
  // is read either way, so that every later reading is the same.
  const std::int64_t seedingTime = clock.now();
  seedRandom(generator, options.seed ? *options.seed : static_cast<std::uint32_t>(seedingTime));
  Outcome<RunSettings> loaded = loadSettings(kSettingsFileName);
  if (!loaded.ok()) return {failureOf(loaded)};
  RunSettings& settings = loaded.value();
  settings.stepsPerDay = options.stepsPerDay;
  const std::int64_t startTime = clock.now();
  const RunConfig config = runConfigOf(options);
  const RunMethod method = chooseMethod(config);
  if (Status shown = showParameters(settings, method); !shown.ok()) return {shown};
  const Outcome<std::int32_t> chosen = runModeOf(settings, console);
  if (!chosen.ok()) return {failureOf(chosen)};
  const std::int32_t mode = chosen.value();
  if ((options.rows || options.chain) && mode != kBatchRunMode) {
    std::string message = std::string("empricer: ") + (options.rows ? "--rows" : "--chain") +
                          " is for a batch run, and this run's mode is ";
    appendNumber(message, settings.runMode);
    return {Failure{message, FailureKind::refused}, true};
  }
  Status run;
  OutputLock resultsLock;  // held to the end of the run
  OutputLock plotLock;
  if (mode == kManualRunMode || mode == kBatchRunMode) {
    if (RunEnd refused = claimOutputs(options, mode, resultsLock, plotLock);
        !refused.status.ok()) {
      return refused;
    }
    // The quotes are read before any file is written: a quote file that does not read stops
    // the run with the results of an earlier run untouched, its message a line on standard
    // error.
    QuoteBook quotes;
    if (options.quotes) {
      if (Status read = quotes.load(*options.quotes); !read.ok()) {
        return onStandardError(read, FailureKind::cannotRead);
      }
    }
    // The calibration's quotes too: a line refused (what the file holds, an arbitrage) is
    // status 2, a file that cannot be read status 1.
    std::map<double, std::vector<QuotedPrice>> calibration;
    if (options.calibrate) {
      QuoteBook book;
      if (Status read = book.load(*options.calibrate); !read.ok()) {
        return onStandardError(read, book.refused() ? FailureKind::refused
                                                    : FailureKind::cannotRead);
      }
      Outcome<std::map<double, std::vector<QuotedPrice>>> prices =
          calibrationPrices(book.held(), *options.calibrate);
      if (!prices.ok()) {
        return {Failure{"empricer: " + prices.message(), FailureKind::refused}, true};
      }
      calibration = std::move(prices.value());
    }
    CalibrationLog calibrationLog;
    // The workers stop when the queue goes, before the stop step or the closing line.
    DistributionCache distribution;
    ValuationQueue queue(options.threads, tuning.simulation);
    Progress progress(!options.quiet && standardErrorIsTerminal(), tuning.progressAfter);
    RunContext context{clock,    console,  generator, queue, distribution,
                       progress, config,   startTime};
    context.method = method.method;
    if (options.quotes) context.quotes = &quotes;
    if (options.calibrate) {
      context.calibration = &calibration;
      context.calibrationLog = &calibrationLog;
      context.calibrationFile = options.calibrate->c_str();
    }
    run = queue.started();
    if (run.ok()) run = runMode(mode, settings, context, method, options, quotes);
  }
  if (!run.ok()) {
    // A calibration refused before anything was valued: a message on standard error.
    if (run.kind() == FailureKind::refused || run.kind() == FailureKind::cannotCompute) {
      return {Failure{"empricer: " + run.message(), run.kind()}, true};
    }
    return {run};
  }

  Status ended = printLine("");
  if (ended.ok() && settings.pauseAtEnd) ended = pauseForKey();
  return {ended};
}

}  // namespace empricer
