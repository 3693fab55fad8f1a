// empricer --check on real files: one table of inputs that read differently from how they
// look, each with the exact lines it must give, and inputs that read as they look (the
// shipped examples among them). Every case also checks that nothing is written.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "app/check/check_files.h"
#include "app/check/check_run.h"
#include "engine/valuation/constants.h"
#include "engine/table/draw_table.h"
#include "engine/table/return_table.h"
#include "fuzz/check_property.h"
#include "run_support.h"


namespace fs = std::filesystem;

namespace {

using namespace std::string_literals;

// Keys 1 to 5 on lines 1 to 5; `more` follows on line 6 on.
std::string setupWith(const std::string& more, const std::string& runMode = "2") {
  return setupText({.runMode = runMode, .moreLines = more});
}

const std::string kSetup = setupWith("");
const std::string kDist = "-0.001,1\n0,2\n0.001,1\n";
const std::string kBatch = "S0,K,days\n100,95,1\n";

std::string repeated(const std::string& line, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += line;
  return text;
}

// A table of returns from -`reach` to `reach` step deviations about `mean`, with weights of the
// normal density, or of Student's t with 3 degrees of freedom when `fat`.
std::string bellTable(double deviation, double mean, bool fat, double reach = 4.0) {
  std::string text;
  for (int i = -100; i <= 100; ++i) {
    const double z = reach * i / 100.0;
    const double density = fat ? std::pow(1.0 + z * z / 3.0, -2.0) : std::exp(-0.5 * z * z);
    char line[64];
    std::snprintf(line, sizeof line, "%.9g,%d\n", mean + deviation * z,
                  static_cast<int>(1000.0 * density) + 1);
    text += line;
  }
  return text;
}

struct CheckCase {
  std::string name;
  std::string setup = kSetup;
  std::string dist = kDist;
  std::string batch = kBatch;  // "-": no batch.csv
  std::string out;             // the exact standard output
};

const std::string kAllClean = "Setup.txt, dist.csv and batch.csv: every line reads as it looks\n";

std::vector<CheckCase> checkCases() {
  return {
      // Setup.txt
      {.name = "tab",
       .setup = setupWith("3\tRiskFreeRate\t0.05\n"),
       .out = "Setup.txt:6: key 3 reads rate 0: fields are separated by single spaces, and this "
              "line has a tab\n"},
      {.name = "two spaces",
       .setup = setupWith("3 RiskFreeRate  0.05\n"),
       .out = "Setup.txt:6: key 3 reads rate 0: two spaces in a row make an empty field, which "
              "shifts the fields after it\n"},
      {.name = "value for a label",
       .setup = setupWith("2 10000\n"),
       .out = "Setup.txt:6: key 2 reads 0 trajectories: the label \"10000\" is a number, and "
              "field 2 is a label that is never read (the values begin at field 3)\n"},
      {.name = "digit grouping, percent, two points",
       .setup = setupWith("2 Trajectories 10,000\n3 RiskFreeRate 5%\n4 StepScale 1.5.2\n"),
       .out = "Setup.txt:6: key 2 reads 10 trajectories: the number ends at ',' (\"10,000\")\n"
              "Setup.txt:7: key 3 reads rate 5: the number ends at '%' (\"5%\")\n"
              "Setup.txt:8: key 4 reads step scale 1.5: the number ends at '.' (\"1.5.2\")\n"},
      {.name = "fewer values",
       .setup = setupWith("5 Shifts 1.02 0.98\n3 RiskFreeRate\n"),
       .out = "Setup.txt:6: key 5 reads shift factors 1.02 0.98 0 0: key 5 reads 4 values, and "
              "the line has 2\n"
              "Setup.txt:7: key 3 reads rate 0: the line has no value\n"},
      {.name = "missing keys",
       .setup = "1 RunMode 2\n2 Trajectories 2\n3 RiskFreeRate 0\n",
       .out = "Setup.txt: no line gives key 4: keys 2 to 5 must be given\n"
              "Setup.txt: no line gives key 5: keys 2 to 5 must be given\n"},
      {.name = "switches meant to be on, and one that cannot be turned off",
       .setup = setupWith("7 WinningProb yes\n6 PauseAtEnd 2\n7 WinningProb 1\n7 WinningProb 0\n"),
       .out = "Setup.txt:6: key 7 leaves the winning probabilities off: only exactly 1 switches "
              "it on, and the value is \"yes\"\n"
              "Setup.txt:7: key 6 leaves the pause at the end off: only exactly 1 switches it "
              "on, and the value is \"2\"\n"
              "Setup.txt:9: key 7 leaves the winning probabilities on: line 8 switched it on, "
              "and no line switches it off\n"},
      {.name = "keys that are not whole or out of range",
       .setup = setupWith("3.5 RiskFreeRate 0.05\n2 Trajectories 3e9\n"),
       .out = "Setup.txt:6: key 3 reads rate 0.05: the key \"3.5\" is not a whole number\n"
              "Setup.txt:7: key 2 reads 3e+009 trajectories: a run stops with \"Error in "
              "Setup.txt: key 2 is out of range\"\n"},
      {.name = "a key line that begins with a blank, a cut key, a cut fraction",
       .setup = setupWith(" 3 RiskFreeRate 0.05\n2a Trajectories 20.5\n"),
       .out = "Setup.txt:6: is ignored: the line begins with a blank, so its key field is empty\n"
              "Setup.txt:7: key 2 reads 20 trajectories: the key ends at 'a' (\"2a\"); the "
              "fraction of \"20.5\" is cut off\n"},
      {.name = "inf, nan and hexadecimal in Setup.txt",
       .setup = setupWith("3 RiskFreeRate inf\n4 StepScale 0x10\n1 RunMode nan\n"),
       .out = "Setup.txt:6: key 3 reads rate 0: \"inf\" is not read as a number\n"
              "Setup.txt:7: key 4 reads step scale 0: \"0x10\" is hexadecimal, which is not "
              "read\n"
              "Setup.txt:8: key 1 reads run mode 0: \"nan\" is not read as a number\n"},
      {.name = "a key read from the second piece of a long line",
       .setup = setupWith(std::string(99, '#') + "3 RiskFreeRate 0.05\n"),
       .out = "Setup.txt:6: is read as 2 lines: it has 118 characters, and a line is read in "
              "pieces of at most 99\n"},
      // dist.csv
      {.name = "falling returns, a negative weight, a row without weight",
       .dist = "0.0001,5\n-0.0001,5\n0.0002,-1\n0.0003\n0.0004,5\n",
       .out = "dist.csv:2: reads return -0.0001, weight 5: the return is below the previous "
              "row's (0.0001): returns are interpolated between neighbouring rows in file order\n"
              "dist.csv:3: reads return 0.0002, weight -1: the weight is negative, and the "
              "running sums of the weights must not fall\n"
              "dist.csv:4: reads return 0.0003, weight 0: the row has no weight\n"},
      {.name = "a header line, and nan and hexadecimal as numbers",
       .dist = "return,weight\n-0.01,1\nnan,1\n0.01,0x2\n",
       .out = "dist.csv:1: reads return 0, weight 0: the return \"return\" holds no number; the "
              "weight \"weight\" holds no number; the first row's weight is 0, which ends the "
              "table at this row: every draw from the second row's weight on takes this return\n"
              "dist.csv:2: reads return -0.01, weight 1: the return is below the previous row's "
              "(0): returns are interpolated between neighbouring rows in file order\n"
              "dist.csv:3: reads return 0, weight 1: the return \"nan\" is not read as a number\n"
              "dist.csv:4: reads return 0.01, weight 0: the weight \"0x2\" is hexadecimal, which "
              "is not read\n"},
      {.name = "a total weight below 1",
       .dist = "-0.01,0.25\n0.01,0.25\n",
       .out = "dist.csv: the weights add up to 0.5: below 1, every draw is 0, so every step "
              "takes the same return\n"
              "dist.csv: the band binds on about 100% of days: a path is held within 1/1.07 to "
              "1.07 of its price at the start of each day, and a day of 270 steps with these "
              "draws (a step's mean 0.01, standard deviation 0) leaves that range on more than "
              "5% of days, where the band cuts what the table draws; a step is 1/270 of a day "
              "(empricer-dist says how many steps a day its table needs)\n"},
      {.name = "returns written in percent",
       .dist = "-1.2,1\n-0.3,4\n0,6\n0.3,4\n1.2,1\n",
       .out = "dist.csv:1: reads return -1.2, weight 1: a return of 1 or more in size moves a "
              "price by 100% or more in one step: a return is a relative change (0.015 for "
              "1.5%), and this one looks like a percent\n"
              "dist.csv:5: reads return 1.2, weight 1: a return of 1 or more in size moves a "
              "price by 100% or more in one step: a return is a relative change (0.015 for "
              "1.5%), and this one looks like a percent\n"
              "dist.csv: a step's draws have a standard deviation of 0.539641: above 1% a step, "
              "as returns written in percent give; a return is a relative change per step "
              "(0.015 for 1.5%), and a day is 270 steps\n"
              "dist.csv: the band binds on about 100% of days: a path is held within 1/1.07 to "
              "1.07 of its price at the start of each day, and a day of 270 steps with these "
              "draws (a step's mean -0.159348, standard deviation 0.539641) leaves that range "
              "on more than 5% of days, where the band cuts what the table draws; a step is "
              "1/270 of a day (empricer-dist says how many steps a day its table needs)\n"
              "dist.csv: a day of 270 steps has an annualised volatility of 14076.2%: above "
              "200% before the band (252 trading days a year), and no number of steps a day "
              "from 1 to 100000 gives one from 0.5% to 200%\n"},
      {.name = "a step too wide for the band",
       .dist = bellTable(0.0025, 0.0, false),
       .out = "dist.csv: the band binds on about 21% of days: a path is held within 1/1.07 to "
              "1.07 of its price at the start of each day, and a day of 270 steps with these "
              "draws (a step's mean -4.95459e-005, standard deviation 0.0025078) leaves that "
              "range on more than 5% of days, where the band cuts what the table draws; a step "
              "is 1/270 of a day (empricer-dist says how many steps a day its table needs)\n"},
      {.name = "more than 5000 rows",
       .dist = repeated("0,1\n", 5001),
       .out = "dist.csv:5001: is row 5001: a table holds at most 5000 rows, and a run stops "
              "with \"Error in dist.csv: more than 5000 rows\"\n"},
      {.name = "no rows", .dist = "\n\n", .out = "dist.csv: holds no row: a run stops with \"Error "
                                               "in dist.csv: no data rows\"\n"},
      // batch.csv
      {.name = "a data row for a header",
       .batch = "100,95,1\n100,95,2\n",
       .out = "batch.csv:1: is taken as the header and never valued: it looks like a data row, "
              "and the first line is the header\n"},
      {.name = "short rows, cut and wordy days, a line of blanks",
       .batch = "S0,K,days\n100,95\n100,95,30.5\n100,95,thirty\n  \n",
       .out = "batch.csv:2: reads S0 100, K 95, days 0: the row has 2 of its 3 fields "
              "(S0,K,days)\n"
              "batch.csv:3: reads S0 100, K 95, days 30: the days \"30.5\" are cut to 30\n"
              "batch.csv:4: reads S0 100, K 95, days 0: days \"thirty\" holds no number\n"
              "batch.csv:5: reads S0 0, K 0, days 0: the line holds only blanks, and is valued "
              "as a row of zeros\n"},
      {.name = "fields without a number, hexadecimal, days out of range",
       .batch = "S0,K,days\nabc,\"95\",1\n0x64,95,1\n100,95,1e10\n",
       .out = "batch.csv:2: reads S0 0, K 0, days 1: S0 \"abc\" holds no number; K \"\\\"95\\\"\" "
              "holds no number\n"
              "batch.csv:3: reads S0 0, K 95, days 1: S0 \"0x64\" is hexadecimal, which is not "
              "read\n"
              "batch.csv:4: is skipped: the days \"1e10\" are out of range\n"},
      {.name = "long lines",
       .batch = std::string(120, 'h') + "\n100,95,1," + std::string(100, ' ') + "\n",
       .out = "batch.csv:1: reads as the header and 1 row: it has 120 characters, and a line "
              "is read in pieces of at most 99\n"
              "batch.csv:2: reads as 2 rows: it has 109 characters, and a line is read in "
              "pieces of at most 99\n"},
      {.name = "days below 1, given as numbers",
       .batch = "S0,K,days\n100,95,0\n100,95,-2\n100,95,0.5\n100,95,\n100,95,1\n",
       .out = "batch.csv:2: reads S0 100, K 95, days 0: days below 1 simulate no step: the row "
              "is valued at S0 itself, with no time left (a day is the shortest term)\n"
              "batch.csv:3: reads S0 100, K 95, days -2: days below 1 simulate no step: the row "
              "is valued at S0 itself, with no time left (a day is the shortest term)\n"
              "batch.csv:4: reads S0 100, K 95, days 0: the days \"0.5\" are cut to 0; days "
              "below 1 simulate no step: the row is valued at S0 itself, with no time left (a "
              "day is the shortest term)\n"
              "batch.csv:5: reads S0 100, K 95, days 0: days is empty\n"},
      {.name = "a batch run without batch.csv",
       .batch = "-",
       .out = "batch.csv: cannot be opened: a run stops with \"Error opening file: batch.csv\"\n"},
      {.name = "the run mode asked: batch.csv is read when it is there",
       .setup = setupText({}),
       .batch = "100,95,1\n",
       .out = "batch.csv:1: is taken as the header and never valued: it looks like a data row, "
              "and the first line is the header\n"},
      // Read as they look.
      {.name = "comments, unknown keys, empty lines, CR LF, equal returns, a last row of 0",
       .setup = "# settings\r\n\r\n1 RunMode 2\r\n9 Unknown 3\r\n0 Note x y\r\n2 Trajectories "
                "10\r\n3 RiskFreeRate 0.05\r\n4 StepScale 1\r\n5 Shifts 1.02 0.98 1.01 "
                "0.99\r\n6 PauseAtEnd 0\r\n7 WinningProb 1e0\r\n3 RiskFreeRate 0.04 yearly\r\n",
       .dist = "-0.0001,1\n\n-0.0001,1\n0.0001,2.5\n0,0\n",
       .batch = "S0,K,Days,Note\n\n100,95,30,first\n 90 , 95 ,1\n",
       .out = kAllClean},
      {.name = "a manual run does not read batch.csv",
       .setup = setupWith("", "1"),
       .batch = "100,95,1\nabc\n",
       .out = "Setup.txt and dist.csv: every line reads as it looks\n"},
      {.name = "the run mode asked, no batch.csv",
       .setup = setupText({}),
       .batch = "-",
       .out = "Setup.txt and dist.csv: every line reads as it looks\n"},
  };
}

TEST(Check, EachOddReadingGivesItsLineAndNothingIsWritten) {
  for (const CheckCase& c : checkCases()) {
    TempDir dir;
    dir.write("Setup.txt", c.setup);
    dir.write("dist.csv", c.dist);
    if (c.batch != "-") dir.write("batch.csv", c.batch);
    dir.write("Batch_Result.csv", "an earlier run's results\n");
    const std::vector<std::string> before = dir.names();
    const RunOutcome run = runIn(dir, {.input = std::nullopt, .clock = kStillClock,
                                       .arguments = {"--check", "--quiet"}});
    EXPECT_EQ(run.out, c.out) << c.name;
    const bool clean = c.out.find(": every line reads as it looks\n") != std::string::npos;
    EXPECT_EQ(run.status, clean ? 0 : 1) << c.name;
    EXPECT_EQ(run.err, "") << c.name;
    EXPECT_EQ(dir.names(), before) << c.name;
    EXPECT_EQ(dir.read("Batch_Result.csv"), "an earlier run's results\n") << c.name;
  }
}

// Every value --check says a line reads, in every case of the table and in lines with 0 bytes
// (which end a field, not the line), is the value a run reads from that line.
TEST(Check, WhatItSaysALineReadsIsWhatARunReads) {
  std::vector<CheckCase> cases = checkCases();
  cases.push_back({.name = "0 bytes",
                   .setup = setupWith("3 RiskFreeRate 0.05\0x\n5 Shifts 1.02\0 0.98 1 1\n"
                                      "\0" "2 Trajectories 5\n4 StepScale\0 1 2\n"s),
                   .dist = "1\0,2\n0,1\n-1,\0\n"s,
                   .batch = "S0,K,days\n100\0,95,2\n90,\0,3\n"s,
                   .out = ""});
  for (const CheckCase& c : cases) {
    TempDir dir;
    dir.write("Setup.txt", c.setup);
    dir.write("dist.csv", c.dist);
    if (c.batch != "-") dir.write("batch.csv", c.batch);
    const ScopedWorkingDirectory in(dir);
    const empricer::CheckReport report = empricer::checkFiles();
    EXPECT_EQ(check_property::firstDifference(report), std::nullopt) << c.name;
  }
}

TEST(Check, TheShippedExamplesReadAsTheyLook) {
  const fs::path examples = fs::path(EMPRICER_GOLDEN_DIR) / ".." / ".." / "examples";
  struct Example {
    std::vector<fs::path> files;
    std::string out;
  };
  const std::vector<Example> shipped = {
      {{"batch/Setup.txt", "batch/dist.csv", "batch/batch.csv"}, kAllClean},
      {{"manual/Setup.txt", "manual/dist.csv"},
       "Setup.txt and dist.csv: every line reads as it looks\n"},
      // The table empricer-dist made, with the manual run's settings.
      {{"manual/Setup.txt", "dist/dist.csv"},
       "Setup.txt and dist.csv: every line reads as it looks\n"},
  };
  for (const Example& example : shipped) {
    TempDir dir;
    for (const fs::path& file : example.files) {
      fs::copy_file(examples / file, fs::path(dir.path()) / file.filename());
    }
    const RunOutcome run = runIn(dir, {.arguments = {"--check"}});
    EXPECT_EQ(run.out, example.out) << example.files[0];
    EXPECT_EQ(run.status, 0) << example.files[0];
  }
}

// The draws of a table's text, as a run makes them.
std::unique_ptr<empricer::DrawTable> drawsOf(const std::string& text) {
  empricer::InputStream stream;
  empricer::openFromMemory(stream, text.data(), text.size());
  auto table = std::make_unique<empricer::ReturnTable>();
  EXPECT_TRUE(empricer::readReturnTable(*table, stream, "dist.csv").ok());
  auto draws = std::make_unique<empricer::DrawTable>();
  empricer::buildDrawTable(*table, static_cast<std::int32_t>(table->totalWeight), *draws);
  return draws;
}

// The share of `days` simulated days of 270 steps on which the band stops the path, each step
// moving the price by one of the draws and clipping it as a run does.
double simulatedBindingShare(const empricer::DrawTable& draws, int days) {
  std::mt19937 random(20250101);
  std::uniform_int_distribution<int> output(0, empricer::kGeneratorOutputs - 1);
  int bound = 0;
  for (int day = 0; day < days; ++day) {
    double price = 1.0;
    bool stopped = false;
    for (int step = 0; step < empricer::kDefaultStepsPerDay; ++step) {
      price *= 1.0 + draws.returnFor[output(random)];
      if (price > empricer::kUpperBand) {
        price = empricer::kUpperBand;
        stopped = true;
      }
      if (price < empricer::kLowerBand) {
        price = empricer::kLowerBand;
        stopped = true;
      }
    }
    bound += stopped ? 1 : 0;
  }
  return static_cast<double>(bound) / days;
}

// The estimate that --check tells a table by against the days a simulation counts.
TEST(Check, TheBandEstimateFollowsTheDaysOnWhichASimulatedPathIsStopped) {
  struct Case {
    const char* name;
    std::string table;
  };
  const Case cases[] = {
      {"calm", bellTable(0.0012, 0.0, false)},
      {"near the threshold", bellTable(0.0018, 0.0, false)},
      {"wide", bellTable(0.0025, 0.0, false)},
      {"fat tails", bellTable(0.0008, 0.0, true, 12.0)},
      {"a drift", bellTable(0.0012, 1.2e-4, false)},
      {"a drift past the band", bellTable(0.0015, -2.2e-4, false)},
      {"percent", bellTable(0.1, 0.0, false)},
  };
  for (const Case& c : cases) {
    const auto draws = drawsOf(c.table);
    const double estimate = empricer::check::bandBindingShare(*draws, empricer::kDefaultStepsPerDay);
    const double simulated = simulatedBindingShare(*draws, 10000);
    EXPECT_NEAR(estimate, simulated, 0.01 + 0.1 * simulated) << c.name;
  }
}

TEST(Check, TakesNoOptionThatShapesARun) {
  for (const std::string option : {"--seed=1", "--threads=2", "--std-errors", "--chain"}) {
    TempDir dir;
    const RunOutcome run = runIn(dir, {.arguments = {"--check", option}});
    EXPECT_EQ(run.status, 2) << option;
    EXPECT_EQ(run.err, "empricer: --check values nothing, so it takes no " +
                           option.substr(0, option.find('=')) + "\nTry 'empricer --help'.\n");
    EXPECT_EQ(run.out, "");
  }
}

}  // namespace
