// The command line of the real program: help and version, usage errors (in the same words as
// empricer-dist's for the same mistake), a seed instead of the clock, shards of a batch (merged
// by hand and by GNU parallel), standard errors, and the progress line on a terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "runs/file_names.h"
#include "runs/run_options.h"
#include "runs/settings.h"
#include "engine/simulation/path_simulation.h"
#include "engine/simulation/valuation_queue.h"
#include "tests/support/value_option.h"
#include "run_support.h"
#include "value_support.h"

using namespace empricer;

namespace fs = std::filesystem;

namespace {

std::set<std::string> filesIn(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

const char* kBell = "-0.004,1\n-0.002,4\n0,6\n0.002,4\n0.004,1\n";

// A batch whose rows are valued, skipped (days out of range) or run no step (days below 1).
const char* kMixedBatch =
    "S0,K,Days\n100,95,1\n90,90,0\n100,100,3e9\n\n80,85,-2\n100,105,2\n120,100,1\n"
    "99,99,1\n101,100,2\n";

void writeBatchInputs(const TempDir& dir, const SetupFile& setup, const std::string& batch) {
  dir.write("Setup.txt", setupText(setup));
  dir.write("dist.csv", kBell);
  dir.write("batch.csv", batch);
}

// The lines of Batch_Result.csv after its header.
std::vector<std::string> dataLines(const std::string& results) {
  std::vector<std::string> lines = splitLines(results);
  if (!lines.empty()) lines.erase(lines.begin());
  return lines;
}

// A run reads the values its options give, each in its own place, and nothing else of them.
TEST(CommandLine, ARunReadsTheValuesItsOptionsGive) {
  const Outcome<ProgramOptions> parsed =
      parseOptions({"--threads", "3", "--seed", "7", "--rows", "2-4", "--std-errors",
                    "--trading-days", "250.5", "--steps-per-day", "12", "--quiet", "--chain"});
  ASSERT_TRUE(parsed.ok()) << parsed.message();
  const RunConfig config = runConfigOf(parsed.value());
  EXPECT_EQ(config.threads, 3);
  EXPECT_EQ(config.seed, std::optional<std::uint32_t>(7));
  ASSERT_TRUE(config.rows.has_value());
  EXPECT_EQ(config.rows->first, 2);
  EXPECT_EQ(config.rows->last, 4);
  EXPECT_TRUE(config.standardErrors);
  EXPECT_EQ(config.tradingDays, 250.5);
  EXPECT_EQ(config.stepsPerDay, 12);
  EXPECT_TRUE(config.chain);
  EXPECT_FALSE(config.exact);

  const Outcome<ProgramOptions> plain = parseOptions({"--threads", "2"});
  ASSERT_TRUE(plain.ok()) << plain.message();
  const RunConfig defaults = runConfigOf(plain.value());
  EXPECT_EQ(defaults.threads, 2);
  EXPECT_FALSE(defaults.seed.has_value());
  EXPECT_FALSE(defaults.rows.has_value());
  EXPECT_FALSE(defaults.standardErrors);
  EXPECT_EQ(defaults.tradingDays, 252.0);
  EXPECT_EQ(defaults.stepsPerDay, kDefaultStepsPerDay);
  EXPECT_FALSE(defaults.chain);
  EXPECT_FALSE(defaults.exact);
}

TEST(CommandLine, HelpAndVersionTouchNoFile) {
  TempDir dir;
  const RunOutcome help = runIn(dir, {.arguments = {"--help"}});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  for (const char* word : {"--threads N", "--seed N", "--rows FIRST-LAST", "--std-errors",
                           "--quiet", "--help", "--version", "Setup.txt", "dist.csv",
                           "batch.csv", "Batch_Result.csv", "README"}) {
    EXPECT_NE(help.out.find(word), std::string::npos) << word;
  }
  const RunOutcome version = runIn(dir, {.arguments = {"--version"}});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("empricer ", 0), 0u) << version.out;
  EXPECT_EQ(splitLines(version.out).size(), 1u);
  EXPECT_TRUE(filesIn(dir).empty());  // no Setup.txt was asked for, nothing was written
}

// Status 2, "empricer: ..." and the hint on standard error, nothing on standard output, and no
// file read or written: the result file of an earlier run stays, no temporary file appears.
// The mistakes that empricer-dist can make too are in the next test.
TEST(CommandLine, UsageErrorsTouchNoFile) {
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"--seed", "x"}, "--seed takes a whole number from 0 to 4294967295, not 'x'"},
      {{"--seed=4294967296"}, "--seed takes a whole number from 0 to 4294967295, not '4294967296'"},
      {{"--seed", "-1"}, "--seed takes a whole number from 0 to 4294967295, not '-1'"},
      {{"--threads", "0"}, "--threads takes a whole number from 1 to 4096, not '0'"},
      {{"--seed", "1", "--rows", "0-3"}, "--rows takes FIRST-LAST, FIRST- or N with 1 <= FIRST <= LAST, not '0-3'"},
      {{"--seed", "1", "--rows=5-2"}, "--rows takes FIRST-LAST, FIRST- or N with 1 <= FIRST <= LAST, not '5-2'"},
      {{"--seed", "1", "--rows", "-3"}, "--rows takes FIRST-LAST, FIRST- or N with 1 <= FIRST <= LAST, not '-3'"},
      {{"--seed", "1", "--rows", "2-x"}, "--rows takes FIRST-LAST, FIRST- or N with 1 <= FIRST <= LAST, not '2-x'"},
      {{"--rows", "1-3"}, "--rows needs --seed, so that every shard draws what the whole run would"},
      {{"--results", "r.csv", "--trading-days", "0"}, "--trading-days takes a number above 0, not '0'"},
      {{"--trading-days=-5"}, "--trading-days takes a number above 0, not '-5'"},
      {{"--trading-days", "inf"}, "--trading-days takes a number above 0, not 'inf'"},
      {{"--plot", "p.svg", "--results"}, "option '--results' needs a value"},
      {{"--exact", "--seed=3"}, "--exact draws no random numbers, so --seed has nothing to seed"},
      {{"--std-errors", "--exact"}, "--exact has no sampling error, so --std-errors has nothing to report"},
      {{"--quotes", "q.csv"}, "--quotes goes into the results file or the smile picture: give --results or --plot with it"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    writeBatchInputs(dir, {.runMode = "2"}, "h\n100,95,1\n");
    dir.write("Batch_Result.csv", "earlier results\n");
    const RunOutcome run = runIn(dir, {.arguments = c.arguments});
    const std::string what = c.arguments.back();
    EXPECT_EQ(run.status, 2) << what;
    EXPECT_EQ(run.out, "") << what;
    EXPECT_EQ(run.err, "empricer: " + c.message + "\nTry 'empricer --help'.\n") << what;
    EXPECT_EQ(dir.read("Batch_Result.csv"), "earlier results\n") << what;
    EXPECT_FALSE(dir.exists("VelmarTemp.txt")) << what;
    EXPECT_FALSE(dir.exists("r.csv") || dir.exists("p.svg")) << what;
  }
}

// Both programs read their command lines with one parser: the same mistake gives the same
// words after each program's name, then its hint, status 2, and every file as it was. SWITCH,
// VALUED, WHOLE and RANGE stand for an option of each program and the range of its number.
TEST(CommandLine, BothProgramsNameTheSameMistakeAlike) {
  struct Program {
    std::string name;
    std::string binary;                 // empty: empricer
    std::vector<std::string> operands;  // the arguments it takes, put before the mistake
    std::vector<std::pair<std::string, std::string>> words;
  };
  const Program programs[] = {
      {"empricer", "", {},
       {{"SWITCH", "--quiet"}, {"VALUED", "--seed"}, {"WHOLE", "--threads"},
        {"RANGE", "1 to 4096"}}},
      {"empricer-dist", kDistProgram, {"prices.csv"},
       {{"SWITCH", "--force"}, {"VALUED", "--out"}, {"WHOLE", "--max-rows"},
        {"RANGE", "2 to 5000"}}},
  };
  const std::pair<std::vector<std::string>, std::string> mistakes[] = {
      {{"--frobnicate"}, "unrecognized option '--frobnicate'"},
      {{"--frobnicate=SWITCH"}, "unrecognized option '--frobnicate'"},
      {{"-h"}, "unexpected argument '-h'"},
      {{"stray.csv"}, "unexpected argument 'stray.csv'"},
      {{"--", "--help"}, "unexpected argument '--help'"},
      {{"SWITCH=yes"}, "option 'SWITCH' takes no value"},
      {{"--help="}, "option '--help' takes no value"},
      {{"VALUED"}, "option 'VALUED' needs a value"},
      {{"WHOLE=2x"}, "WHOLE takes a whole number from RANGE, not '2x'"},
      {{"WHOLE", "-1"}, "WHOLE takes a whole number from RANGE, not '-1'"},
  };
  for (const Program& program : programs) {
    const auto fill = [&program](std::string text) {
      for (const auto& [word, meaning] : program.words) {
        for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word)) {
          text.replace(at, word.size(), meaning);
        }
      }
      return text;
    };
    for (const auto& [words, message] : mistakes) {
      TempDir dir;
      writeBatchInputs(dir, {.runMode = "2"}, "h\n100,95,1\n");
      dir.write("Batch_Result.csv", "earlier results\n");
      dir.write("prices.csv", "date,close\n1,100\n2,101\n3,100.5\n");
      const std::vector<std::string> before = dir.names();
      std::vector<std::string> arguments = program.operands;
      for (const std::string& word : words) arguments.push_back(fill(word));
      const RunOutcome run = runIn(dir, {.arguments = arguments, .program = program.binary});
      const std::string what = program.name + " " + fill(message);
      EXPECT_EQ(run.status, 2) << what;
      EXPECT_EQ(run.out, "") << what;
      EXPECT_EQ(run.err, program.name + ": " + fill(message) + "\nTry '" + program.name +
                             " --help'.\n")
          << what;
      EXPECT_EQ(dir.names(), before) << what;
      EXPECT_EQ(dir.read("dist.csv"), kBell) << what;
      EXPECT_EQ(dir.read("Batch_Result.csv"), "earlier results\n") << what;
    }
  }
}

// A seed gives what a run whose clock read that number when the generator was seeded gives;
// the clock still serves the elapsed times.
TEST(CommandLine, SeedGivesWhatTheClockWouldHaveGiven) {
  for (const std::string mode : {"1", "2"}) {
    TempDir byClock;
    TempDir bySeed;
    for (const TempDir* dir : {&byClock, &bySeed}) {
      writeBatchInputs(*dir, {.runMode = mode, .trajectories = 40, .rate = "0.05",
                              .probabilities = true},
                       kMixedBatch);
    }
    const RunOutcome clocked =
        runIn(byClock, {.input = "100 98 2\n", .clock = ReplayClock{1234567, 1}});
    const RunOutcome seeded = runIn(
        bySeed, {.input = "100 98 2\n", .clock = ReplayClock{1700000000, 1},
                 .arguments = {"--seed", "1234567"}});
    EXPECT_EQ(clocked.status, 0);
    EXPECT_EQ(seeded.out, clocked.out) << "mode " << mode;
    EXPECT_EQ(bySeed.read("Batch_Result.csv"), byClock.read("Batch_Result.csv"));
  }
}

// Shards of a batch, each with the same seed, give the whole run's result lines in order:
// rows before a shard only move the generator on, skipped and zero-day rows count as rows.
// With --chain too: its groups of equal S0 are formed over the whole file, whatever the shard.
TEST(CommandLine, ShardsJoinUpToTheWholeRun) {
 for (const std::vector<std::string>& extra : {std::vector<std::string>{}, {"--chain"}}) {
  SCOPED_TRACE(extra.empty() ? "row by row" : "chain");
  auto withExtra = [&extra](std::vector<std::string> args) {
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  const SetupFile setup{.runMode = "2", .trajectories = 30, .rate = "0.05", .probabilities = true};
  TempDir whole;
  writeBatchInputs(whole, setup, kMixedBatch);
  const RunOutcome full =
      runIn(whole, {.clock = kStillClock, .arguments = withExtra({"--seed", "77"})});
  ASSERT_EQ(full.status, 0) << full.out << full.err;
  const std::vector<std::string> wanted = dataLines(whole.read("Batch_Result.csv"));
  ASSERT_EQ(wanted.size(), 5u * 7);  // 8 data rows, one of them skipped

  // Rows 3 and 4 are the skipped and a zero-day row: the second shard starts after them.
  const std::vector<std::vector<std::string>> splits = {
      {"1-2", "3-4", "5-"}, {"1-5", "6", "7-8", "9-20"}, {"1-"}, {"2-3", "1"}};
  for (const auto& shards : splits) {
    std::vector<std::string> joined;
    for (const std::string& rows : shards) {
      TempDir part;
      writeBatchInputs(part, setup, kMixedBatch);
      const RunOutcome run =
          runIn(part, {.clock = kStillClock, .arguments = withExtra({"--seed", "77", "--rows", rows})});
      ASSERT_EQ(run.status, 0) << rows << run.err;
      const std::string results = part.read("Batch_Result.csv");
      EXPECT_EQ(splitLines(results)[0], splitLines(whole.read("Batch_Result.csv"))[0]);
      for (const std::string& line : dataLines(results)) joined.push_back(line);
    }
    if (shards[0] == "2-3") {  // out of order on purpose: rows 2-3, then row 1
      ASSERT_EQ(joined.size(), 5u * 2);
      EXPECT_EQ(std::vector<std::string>(joined.begin() + 5, joined.end()),
                std::vector<std::string>(wanted.begin(), wanted.begin() + 5));
      EXPECT_EQ(std::vector<std::string>(joined.begin(), joined.begin() + 5),
                std::vector<std::string>(wanted.begin() + 5, wanted.begin() + 10));
    } else {
      EXPECT_EQ(joined, wanted) << shards[0];
    }
  }

  // A shard past the last row writes the header alone.
  TempDir past;
  writeBatchInputs(past, setup, kMixedBatch);
  EXPECT_EQ(
      runIn(past, {.clock = kStillClock, .arguments = withExtra({"--seed=77", "--rows=9-"})}).status,
      0);
  EXPECT_TRUE(dataLines(past.read("Batch_Result.csv")).empty());
 }
}

// --rows fits only a batch run: a manual run mode, or a run mode asked and answered otherwise,
// ends with a message and status 2 before any result file is written.
// --chain likewise.
TEST(CommandLine, RowsForARunThatIsNotABatchRun) {
  for (const auto& [mode, answer] : std::vector<std::pair<std::string, std::string>>{
           {"1", ""}, {"3", ""}, {"0", "1\n"}, {"0", "x\n"}}) {
    const std::string option = answer == "1\n" ? "--chain" : "--rows";
    TempDir dir;
    writeBatchInputs(dir, {.runMode = mode}, "h\n100,95,1\n");
    std::vector<std::string> args = {"--seed", "1", option};
    if (option == "--rows") args.push_back("1");
    const RunOutcome run =
        runIn(dir, {.input = answer, .clock = kStillClock, .arguments = args});
    EXPECT_EQ(run.status, 2) << mode;
    EXPECT_EQ(run.err.rfind("empricer: " + option + " is for a batch run", 0), 0u) << run.err;
    EXPECT_FALSE(dir.exists("Batch_Result.csv")) << mode;
    EXPECT_FALSE(dir.exists("VelmarTemp.txt")) << mode;
  }
}

// The recipe of docs/many-machines.md on this machine: GNU parallel runs the shards, each in a
// folder of its own, and the merge is the header of the first and the data lines of all, in order.
TEST(CommandLine, ShardsRunByGnuParallelMergeToTheWholeRun) {
  ASSERT_EQ(std::system("command -v parallel > /dev/null"), 0)
      << "GNU parallel is missing: install the prerequisites in README.md";
  TempDir dir;
  writeBatchInputs(dir, {.runMode = "2", .trajectories = 25, .rate = "0.05"}, kMixedBatch);
  const RunOutcome full = runIn(dir, {.arguments = {"--seed", "4242", "--quiet"}});
  ASSERT_EQ(full.status, 0);
  const std::string wanted = dir.read("Batch_Result.csv");
  const std::string script =
      "cd '" + dir.path() + "' && mkdir shards && "
      "parallel --will-cite --jobs 2 'mkdir shards/{#} && cp Setup.txt dist.csv batch.csv "
      "shards/{#} && cd shards/{#} && " EMPRICER_BINARY
      " --seed 4242 --rows {} --quiet > console.txt' ::: 1-3 4-6 7- && "
      "{ head -n 1 shards/1/Batch_Result.csv; for i in 1 2 3; do tail -n +2 "
      "shards/$i/Batch_Result.csv; done; } > merged.csv";
  ASSERT_EQ(std::system(script.c_str()), 0) << script;
  EXPECT_EQ(dir.read("merged.csv"), wanted);
}

// The standard errors against a two-pass computation over each trajectory's payoffs, taken
// one trajectory at a time from the same draws.
TEST(CommandLine, StandardErrorsMatchATwoPassComputation) {
  TempDir dir;
  ScopedWorkingDirectory inDir(dir);
  dir.write(kDistributionFileName, "-0.01,1\n-0.004,3\n0,5\n0.004,3\n0.01,1\n");
  ValuationRequest request = requestOf(100.0, 101.0, 2, 0, 0.05);
  for (std::int32_t n : {1, 2, 5, 257}) {
    request.trajectories = n;
    RowFigures figures{};
    RandomGenerator generator{31337u};
    ValuationQueue queue(3, {});
    DistributionCache distribution;
    ASSERT_TRUE(valueOption(request, figures, generator,
                            {kDistributionFileName, kTemporaryFileName}, queue, distribution,
                            {.standardErrors = true})
                    .ok());
    const StandardErrors& errors = figures.errors;

    // Each trajectory's payoffs, one at a time from the same draws.
    ReturnTable table;
    ASSERT_TRUE(loadReturnTable(table, kDistributionFileName).ok());
    DrawTable draws;
    buildDrawTable(table, static_cast<std::int32_t>(table.totalWeight), draws);
    SimulationSetup one{};
    for (int p = 0; p < kPathCount; ++p) one.start[p] = startPriceOfPath(request, p);
    one.strike = request.strike;
    one.growth = request.riskFreeRate * request.stepFraction * 0.01 + 1.0;
    one.days = request.days;
    one.trajectories = 1;
    one.draws = &draws;
    std::vector<PayoffSums> each(static_cast<std::size_t>(n));
    RandomGenerator again{31337u};
    for (PayoffSums& sums : each) {
      RowPricer trajectory(one.strike);
      simulateOneByOne(one, trajectory, again);
      sums = trajectory.sums();
    }
    const double d = std::pow(2.718281828459, -(2.0 * request.riskFreeRate * request.stepFraction));
    for (int p = 0; p < kPathCount; ++p) {
      for (int kind = 0; kind < 2; ++kind) {
        double mean = 0.0;
        for (const PayoffSums& s : each) mean += (kind == 0 ? s.call[p] : s.put[p]) / n;
        double squares = 0.0;
        for (const PayoffSums& s : each) {
          const double x = (kind == 0 ? s.call[p] : s.put[p]) - mean;
          squares += x * x;
        }
        const double want = d * std::sqrt(squares / (n - 1)) / std::sqrt(static_cast<double>(n));
        const double got = kind == 0 ? errors.call[p] : errors.put[p];
        if (n < 2) {
          EXPECT_TRUE(std::isnan(got)) << p;
        } else {
          EXPECT_NEAR(got, want, 1e-12 * want + 1e-300) << "n " << n << " path " << p;
        }
      }
    }
  }
}

// The columns and console lines --std-errors adds, and nothing else.
TEST(CommandLine, StandardErrorsAddColumnsAndLinesOnly) {
  for (const bool probabilities : {false, true}) {
    TempDir plain;
    TempDir withErrors;
    for (const TempDir* dir : {&plain, &withErrors}) {
      writeBatchInputs(*dir, {.runMode = "2", .trajectories = 20, .probabilities = probabilities},
                       "h\n100,95,1\n100,100,2\n");
    }
    const RunOutcome a = runIn(plain, {.clock = kStillClock, .arguments = {"--seed", "9"}});
    const RunOutcome b =
        runIn(withErrors, {.clock = kStillClock, .arguments = {"--seed", "9", "--std-errors"}});
    const auto linesA = splitLines(plain.read("Batch_Result.csv"));
    const auto linesB = splitLines(withErrors.read("Batch_Result.csv"));
    ASSERT_EQ(linesA.size(), linesB.size());
    EXPECT_EQ(linesB[0], linesA[0] + ",SECall,SEPut");
    for (std::size_t i = 1; i < linesA.size(); ++i) {
      EXPECT_EQ(linesB[i].rfind(linesA[i] + ",", 0), 0u) << linesB[i];
      EXPECT_EQ(std::count(linesB[i].begin(), linesB[i].end(), ','),
                std::count(linesA[i].begin(), linesA[i].end(), ',') + 2);
    }
    const auto outA = splitLines(a.out);
    const auto outB = splitLines(b.out);
    ASSERT_EQ(outA.size(), outB.size());
    for (std::size_t i = 0; i < outA.size(); ++i) {
      if (outA[i].rfind("S0=", 0) == 0) {
        EXPECT_EQ(outB[i].rfind(outA[i] + ", SE=", 0), 0u) << outB[i];
      } else {
        EXPECT_EQ(outB[i], outA[i]);
      }
    }
  }
  // The manual report: one line per path, after the path's other lines.
  TempDir manual;
  writeBatchInputs(manual, {.runMode = "1", .trajectories = 20, .probabilities = true}, "");
  const RunOutcome run = runIn(manual, {.input = "100 95 1\n", .clock = kStillClock,
                                        .arguments = {"--std-errors"}});
  const auto lines = splitLines(run.out);
  int seen = 0;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].find("Std Error: Call = ") == std::string::npos) continue;
    ++seen;
    EXPECT_NE(lines[i - 1].find("Prob"), std::string::npos) << lines[i - 1];
  }
  EXPECT_EQ(seen, 5);
}

// On a terminal the progress line shows the row, the share done and the time left, and is
// erased at the end; standard output is the same bytes as without it, and --quiet or a
// standard error that is not a terminal shows nothing.
TEST(CommandLine, ProgressOnATerminalOnly) {
  TempDir dir;
  writeBatchInputs(dir, {.runMode = "2", .trajectories = 2000, .rate = "0.05"},
                   "h\n100,95,3\n100,100,3\n100,105,3\n");
  const std::vector<std::string> base = {"--progress-now", "--seed", "5", "--threads", "2"};
  const RunOutcome quietFile = runIn(dir, {.clock = kStillClock, .arguments = base});
  const std::string results = dir.read("Batch_Result.csv");
  EXPECT_EQ(quietFile.err, "");

  const RunOutcome shown = runIn(dir, {.clock = kStillClock, .arguments = base,
                                       .errorOnTerminal = true});
  EXPECT_EQ(shown.status, 0);
  EXPECT_EQ(shown.out, quietFile.out);
  EXPECT_EQ(dir.read("Batch_Result.csv"), results);
  EXPECT_NE(shown.err.find("row 1 of 3: "), std::string::npos) << shown.err;
  EXPECT_NE(shown.err.find("% of the trajectories"), std::string::npos) << shown.err;
  EXPECT_EQ(shown.err.find('\n'), std::string::npos) << "the line only ever returns to its start";
  ASSERT_GE(shown.err.size(), 4u);
  EXPECT_EQ(shown.err.substr(shown.err.size() - 4), "\r\x1b[K") << "erased at the end";

  std::vector<std::string> quiet = base;
  quiet.push_back("--quiet");
  const RunOutcome silenced = runIn(dir, {.clock = kStillClock, .arguments = quiet,
                                          .errorOnTerminal = true});
  EXPECT_EQ(silenced.err, "");
  EXPECT_EQ(silenced.out, quietFile.out);
}

}  // namespace
