// The compiled half of the Python module: tables, settings and whole runs of rows, valued in
// process by the same code as the command line, their results as the text of a --results file
// (which the Python half reads back to the same doubles).
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "runs/clock.h"
#include "runs/console_input.h"
#include "runs/batch_file.h"
#include "runs/file_names.h"
#include "runs/run_options.h"
#include "runs/progress.h"
#include "engine/quotes/quote_book.h"
#include "runs/results_file.h"
#include "runs/row_sink.h"
#include "runs/run_method.h"
#include "runs/runs.h"
#include "runs/settings.h"
#include "builder/dist_build.h"
#include "builder/dist_options.h"
#include "engine/quotes/calibration_quotes.h"
#include "engine/quotes/calibration_report.h"
#include "engine/valuation/constants.h"
#include "engine/table/distribution_cache.h"
#include "engine/table/random_generator.h"
#include "engine/table/return_table.h"
#include "engine/simulation/valuation_queue.h"
#include "text/input_stream.h"
#include "text/line_reader.h"

namespace py = pybind11;
using namespace empricer;

namespace {

// A failure as the exception Python expects, by its kind: a file that cannot be opened, read
// or written is an OSError, a run asked to stop a KeyboardInterrupt, anything else about the
// input a ValueError; the message is the program's.
[[noreturn]] void raise(const Status& failure) {
  PyObject* type = PyExc_ValueError;
  switch (failure.kind()) {
    case FailureKind::cannotOpen:
    case FailureKind::cannotRead:
    case FailureKind::cannotWrite:
      type = PyExc_OSError;
      break;
    case FailureKind::stopped:
      type = PyExc_KeyboardInterrupt;
      break;
    case FailureKind::badInput:
    case FailureKind::cannotCompute:
    case FailureKind::refused:
      break;
  }
  PyErr_SetString(type, failure.message().c_str());
  throw py::error_already_set();
}

template <typename T>
[[noreturn]] void raise(const Outcome<T>& failed) {
  raise(failed.status());
}

struct Table {
  std::shared_ptr<const LoadedDistribution> loaded;
};

Table readTable(const std::string& path) {
  DistributionCache cache;
  if (Status read = cache.refresh(path.c_str()); !read.ok()) raise(read);
  return {cache.current()};
}

// The text of a dist.csv of these rows, each number in the shortest text that reads back to
// it, loaded as that file would be.
Table tableOf(const std::string& text) {
  Table table;
  if (Status read = loadDistributionText(text, "dist.csv", table.loaded); !read.ok()) {
    raise(read);
  }
  return table;
}

RunSettings readSettings(const std::string& path) {
  Outcome<RunSettings> loaded = loadSettings(path.c_str());
  if (!loaded.ok()) raise(loaded);
  return loaded.value();
}


// Python's whole-number options, as given: any size.
struct WholeOptions {
  std::optional<py::int_> threads;
  std::optional<py::int_> seed;
  std::optional<py::int_> first;
  std::optional<py::int_> last;
};

// The command line's arguments that say what `whole` and `rest` say, in argumentsOf's order,
// each whole number in its decimal text however large, so that one beyond 64 bits is refused
// with the message the command line gives that text.
std::vector<std::string> argumentsOf(const WholeOptions& whole, const RunArguments& rest) {
  const auto text = [](const py::int_& number) { return std::string(py::repr(number)); };
  std::vector<std::string> args;
  if (whole.threads) args.insert(args.end(), {"--threads", text(*whole.threads)});
  if (whole.seed) args.insert(args.end(), {"--seed", text(*whole.seed)});
  if (whole.first || whole.last) {
    // Either end alone keeps the other open, as FIRST- does and as 1-LAST would.
    const std::string first = whole.first ? text(*whole.first) : "1";
    args.insert(args.end(), {"--rows", first + "-" + (whole.last ? text(*whole.last) : "")});
  }
  const std::vector<std::string> others = argumentsOf(rest);
  args.insert(args.end(), others.begin(), others.end());
  return args;
}

// The options of a run from Python, read by the command line's own parser from the
// arguments that say the same, so that Python refuses what the command line refuses, with its
// message (a ValueError); and a shard that selects no row, which the command line only warns
// of, refused too.
ProgramOptions optionsOf(const std::vector<std::string>& arguments, const BatchFile& batch) {
  Outcome<ProgramOptions> parsed = parseOptions(arguments);
  if (!parsed.ok()) throw py::value_error(parsed.message());
  const ProgramOptions& options = parsed.value();
  if (options.rows) {
    const auto rows = static_cast<std::int64_t>(batch.rows.rows.size());
    if (rows < options.rows->first) {
      throw py::value_error(emptyShardMessage(*options.rows, rows, kBatchFileName));
    }
  }
  return options;
}

// The number of rows the options' range takes from `rows` (those a run counts as it goes).
std::int64_t rowsInRange(BatchFile rows, const ProgramOptions& options) {
  chooseRange(rows, options.rows.value_or(RowRange{}));
  return static_cast<std::int64_t>(rows.rows.end - rows.rows.first);
}

// The quotes of --quotes read from `path`, or from `text` (a frame's CSV, named "quotes" in
// the messages), or nothing when neither is given; a file that does not read raises by the
// kind of its failure, with the run's message, and text that does not read is a ValueError.
std::unique_ptr<QuoteBook> quotesOf(const std::optional<std::string>& path,
                                    const std::optional<std::string>& text) {
  if (!path && !text) return nullptr;
  auto quotes = std::make_unique<QuoteBook>();
  if (text) {
    if (Status read = quotes->read(*text, "quotes"); !read.ok()) {
      throw py::value_error(read.message());
    }
    return quotes;
  }
  if (Status read = quotes->load(*path); !read.ok()) raise(read);
  return quotes;
}

// A calibration's failure as Python's exception, naming the argument: what the file holds or
// the run refuses (a line, an arbitrage, an S0 without quotes, a price out of the paths'
// reach) a ValueError; a file that cannot be opened or read an OSError.
[[noreturn]] void raiseCalibration(const Status& failure, bool refused) {
  std::string message = "calibrate: ";
  message += failure.message();
  raise(Failure{message, refused ? FailureKind::refused : failure.kind()});
}

// The quoted prices of --calibrate read from `path`, by S0, or nothing when no path is given.
std::unique_ptr<std::map<double, std::vector<QuotedPrice>>> calibrationOf(
    const std::optional<std::string>& path) {
  if (!path) return nullptr;
  QuoteBook book;
  if (Status read = book.load(*path); !read.ok()) raiseCalibration(read, book.refused());
  Outcome<std::map<double, std::vector<QuotedPrice>>> prices =
      calibrationPrices(book.held(), *path);
  if (!prices.ok()) raiseCalibration(prices.status(), true);
  return std::make_unique<std::map<double, std::vector<QuotedPrice>>>(
      std::move(prices.value()));
}

// Tells `show` (None: nobody) the row begun (from 1), the rows of the run and the share of the
// row's work done; the interpreter is held. An exception it raises stays set and stops the run.
bool tell(const py::object& show, std::int64_t row, std::int64_t rows, double share) {
  if (show.is_none()) return true;
  try {
    show(row, rows, share);
  } catch (py::error_already_set& raised) {
    raised.restore();
    return false;
  }
  return true;
}

// The rows of `batch` (a batch.csv's text) valued as `empricer --results` values them, with
// the given options (and --quotes `quotes`, or the quotes file's text `quotesText`, and
// --calibrate, when given): the text of the results file, and the text of
// --calibration-report's file (None without a calibration). The
// interpreter is released meanwhile and asked now and then (every 20 ms at most), from the
// calling thread, whether a signal wants the run to stop; then `progress`, unless None, is
// called with the row, the rows and the share of the row done. A thread that cannot start is
// a RuntimeError.
py::tuple runRows(const Table& table, const RunSettings& settings, const std::string& batch,
                    std::optional<py::int_> seed, bool exact, bool chain,
                    std::optional<py::int_> threads, std::optional<py::int_> first,
                    std::optional<py::int_> last, double tradingDays,
                    const std::optional<std::string>& quotePath, const py::object& progressShow,
                    const std::optional<std::string>& calibratePath,
                    const std::optional<std::string>& quotesText) {
  BatchFile rows = batchOfText(batch, settings);
  std::vector<std::string> arguments = argumentsOf(WholeOptions{threads, seed, first, last},
                  RunArguments{.threads = std::nullopt, .seed = std::nullopt,
                               .first = std::nullopt, .last = std::nullopt, .exact = exact,
                               .chain = chain, .tradingDays = tradingDays,
                               .stepsPerDay = settings.stepsPerDay == kDefaultStepsPerDay
                                                  ? std::nullopt
                                                  : std::optional<std::int64_t>(
                                                        settings.stepsPerDay),
                               .results = std::string("(memory)"), .quiet = true});
  if (calibratePath) arguments.insert(arguments.end(), {"--calibrate", *calibratePath});
  const ProgramOptions options = optionsOf(arguments, rows);
  const RunConfig config = runConfigOf(options);
  const RunMethod method = chooseMethod(config);
  const std::int64_t rowCount = rowsInRange(rows, options);
  const std::unique_ptr<QuoteBook> quotes = quotesOf(quotePath, quotesText);
  const auto calibration = calibrationOf(calibratePath);
  CalibrationLog calibrationLog;
  std::vector<std::string> warnings;

  std::string text;
  Status status;
  Status started;
  {
    py::gil_scoped_release released;
    SystemClock clock;
    ConsoleInput console;
    RandomGenerator generator;
    const std::int64_t seedingTime = clock.now();
    seedRandom(generator, options.seed ? *options.seed : static_cast<std::uint32_t>(seedingTime));
    DistributionCache distribution;
    distribution.hold(table.loaded);
    ValuationQueue queue(options.threads, SimulationChoice{});
    Progress progress(false, 1.0);
    RunContext run{clock,    console, generator, queue, distribution, progress,
                   config, clock.now()};
    ResultsFile results;
    results.setRun(RunFacts{method.description, settings.trajectories, options.seed,
                            options.tradingDays});
    results.openInMemory();
    // The rows' sinks as the command line's: the quotes' accounting, then the results.
    std::optional<QuoteNotes> quoteNotes;
    if (quotes != nullptr) run.sinks.push_back(&quoteNotes.emplace(*quotes));
    run.sinks.push_back(&results);
    run.quotes = quotes.get();
    if (calibration != nullptr) {
      run.calibration = calibration.get();
      run.calibrationLog = &calibrationLog;
      run.calibrationFile = calibratePath->c_str();
    }
    run.method = method.method;
    // The run's warnings go to Python's warnings module once the interpreter is back.
    run.warn = [&warnings](const std::string& warning) { warnings.push_back(warning); };
    std::chrono::steady_clock::time_point lastLook{};  // the first call looks
    // A signal's handler raises in Python (KeyboardInterrupt), and so may `progressShow`:
    // the run stops, and the exception left is the one raised.
    run.listen = [&](double share) {
      const auto now = std::chrono::steady_clock::now();
      if (now - lastLook < std::chrono::milliseconds(20)) return true;
      lastLook = now;
      py::gil_scoped_acquire held;
      return PyErr_CheckSignals() == 0 &&
             tell(progressShow, progress.row(), rowCount, share);
    };
    started = queue.started();
    if (started.ok()) {
      status = valueRowsOf(rows, run);
      text = results.text();
      // The calibration's warnings after the run's, as the command line gives them.
      if (status.ok() && calibration != nullptr) {
        for (const std::string& warning : calibrationWarnings(calibrationLog)) {
          run.warn(warning);
        }
      }
    }
  }
  if (!started.ok()) throw std::runtime_error(started.message());
  if (status.kind() == FailureKind::stopped && PyErr_Occurred() != nullptr) {
    throw py::error_already_set();
  }
  for (const std::string& warning : warnings) {
    if (PyErr_WarnEx(PyExc_UserWarning, warning.c_str(), 1) != 0) throw py::error_already_set();
  }
  if (!status.ok()) {
    // Only a calibration refuses a run, or finds a price out of its paths' reach.
    if (calibration != nullptr && (status.kind() == FailureKind::refused ||
                                   status.kind() == FailureKind::cannotCompute)) {
      raiseCalibration(status, true);
    }
    raise(status);
  }
  // Standard error as the command line's ends: each S0's calibration, then the quotes' count.
  std::string said;
  if (calibration != nullptr) {
    for (const std::string& line : calibrationSummary(calibrationLog)) {
      said += "empricer: ";
      said += line;
      said += '\n';
    }
  }
  if (quotes != nullptr) said += quotes->reportText();
  if (!said.empty()) {
    std::fwrite(said.data(), 1, said.size(), stderr);
    std::fflush(stderr);
  }
  if (calibration == nullptr) return py::make_tuple(text, py::none());
  return py::make_tuple(text, calibrationReportText(calibrationLog, rows.rows.common,
                                                    options.tradingDays));
}

// empricer-dist in process: the options as on its command line (the last the prices file);
// the table it wrote to --out, its report and its warnings.
py::tuple buildTable(const std::vector<std::string>& arguments) {
  const Outcome<DistOptions> parsed = parseDistOptions(arguments);
  if (!parsed.ok()) raise(parsed);
  const Outcome<BuiltDistribution> built = [&] {
    py::gil_scoped_release released;
    return buildDistribution(parsed.value());
  }();
  if (!built.ok()) raise(built);
  return py::make_tuple(readTable(parsed.value().out), built.value().report,
                        built.value().warnings);
}

}  // namespace

PYBIND11_MODULE(_empricer, m) {
  m.doc() = "empricer's engine: tables, settings and valuations of rows";
  py::class_<Table>(m, "Table")
      .def_static("read_csv", &readTable, py::arg("path"))
      .def_static("from_text", &tableOf, py::arg("text"))
      .def_property_readonly("draws",
                             [](const Table& t) {
                               return std::vector<double>(std::begin(t.loaded->draws.returnFor),
                                                          std::end(t.loaded->draws.returnFor));
                             })
      .def_property_readonly("returns",
                             [](const Table& t) {
                               const ReturnTable& r = t.loaded->table;
                               return std::vector<double>(r.returns, r.returns + r.rowCount);
                             })
      .def_property_readonly("weights",
                             [](const Table& t) {
                               const ReturnTable& r = t.loaded->table;
                               return std::vector<double>(r.weights, r.weights + r.rowCount);
                             })
      .def_property_readonly("total_weight",
                             [](const Table& t) { return t.loaded->table.totalWeight; });
  py::class_<RunSettings>(m, "Settings")
      .def(py::init<>())
      .def_static("read", &readSettings, py::arg("path"))
      .def_readwrite("trajectories", &RunSettings::trajectories)
      .def_readwrite("rate", &RunSettings::riskFreeRate)
      .def_readwrite("step_fraction", &RunSettings::stepFraction)
      .def_property(
          "step_scale", py::cpp_function(),
          py::cpp_function(
              [](RunSettings& s, double scale) { s.stepFraction = stepFractionOf(scale); }),
          "Setup.txt's key 4: sets step_fraction from it as a run does (write only)")
      .def_readwrite("probabilities", &RunSettings::withProbabilities)
      .def_readwrite("steps_per_day", &RunSettings::stepsPerDay)
      .def_property(
          "shifts",
          [](const RunSettings& s) {
            return std::vector<double>(s.shiftFactor, s.shiftFactor + 4);
          },
          [](RunSettings& s, const std::vector<double>& shifts) {
            if (shifts.size() != 4) throw py::value_error("four shift factors");
            for (int k = 0; k < 4; ++k) s.shiftFactor[k] = shifts[static_cast<std::size_t>(k)];
          });
  m.def("run_rows", &runRows, py::arg("table"), py::arg("settings"), py::arg("batch"),
        py::arg("seed"), py::arg("exact"), py::arg("chain"), py::arg("threads"),
        py::arg("first"), py::arg("last"), py::arg("trading_days"), py::arg("quotes") = py::none(),
        py::arg("progress") = py::none(), py::arg("calibrate") = py::none(),
        py::arg("quotes_text") = py::none());
  m.def("build_table", &buildTable, py::arg("arguments"));
  m.attr("steps_per_day") = kDefaultStepsPerDay;
  m.attr("most_steps_per_day") = kMostStepsPerDay;
  m.attr("table_capacity") = kTableCapacity;
}
