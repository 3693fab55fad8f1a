// Whole batch runs of the real executable.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "run_support.h"
#include "value_support.h"

using namespace empricer;

namespace {

const char* kBell = "-0.004,1\n-0.002,4\n0,6\n0.002,4\n0.004,1\n";

// Writes the three input files into `dir` and runs the program there with a still clock.
RunOutcome runBatchIn(const TempDir& dir, const std::string& setup, const std::string& dist,
                      const std::string& batch) {
  dir.write("Setup.txt", setup);
  dir.write("dist.csv", dist);
  dir.write("batch.csv", batch);
  return runIn(dir, {.clock = kStillClock});
}

// The console lines between "OUTPUTS: " and the empty line before the total.
std::vector<std::string> rowLines(const std::string& out) {
  const auto lines = splitLines(out);
  const auto begin = std::find(lines.begin(), lines.end(), "OUTPUTS: ");
  EXPECT_NE(begin, lines.end());
  const auto end = std::find(begin, lines.end(), "");
  return {begin + 1, end};
}

TEST(BatchRun, WritesFiveLinesPerRowInPathOrder) {
  for (bool probabilities : {true, false}) {
    TempDir dir;
    const RunOutcome run = runBatchIn(
        dir, setupText({.runMode = "2", .trajectories = 20, .probabilities = probabilities}),
        kBell, "S0,K,Days\n100,95,1\n80,80,2\n120.5,130,3\n");
    ASSERT_EQ(run.status, 0) << run.out;

    const auto result = splitLines(dir.read("Batch_Result.csv"));
    ASSERT_EQ(result.size(), 1u + 5 * 3);
    EXPECT_EQ(result[0], probabilities ? "S0,K,Call,Put,Stdev,Prob(WLC),Prob(WLP),ThetaC,ThetaP"
                                       : "S0,K,Call,Put,Stdev,ThetaC,ThetaP");
    const auto console = rowLines(run.out);
    ASSERT_EQ(console.size(), 7u * 3);

    const char* spots[3] = {"100", "80", "120.5"};
    const char* strikes[3] = {"95", "80", "130"};
    const double factors[5] = {1.02, 0.98, 1.0, 1.01, 0.99};
    const double baseSpot[3] = {100, 80, 120.5};
    for (int row = 0; row < 3; ++row) {
      const std::string stdevOfRow = fieldsOf(result[1 + 5 * row + 2])[4];
      for (int p = 0; p < 5; ++p) {
        const auto fields = fieldsOf(result[1 + 5 * row + p]);
        ASSERT_EQ(fields.size(), probabilities ? 9u : 7u);
        const std::string spot = p == 2 ? spots[row] : g6(baseSpot[row] * factors[p]);
        EXPECT_EQ(fields[0], spot);
        EXPECT_EQ(fields[1], strikes[row]);
        EXPECT_EQ(fields[4], stdevOfRow) << "every line of a row has the base path's spread";
        // The console echo carries the same values for the same path.
        const std::string& echo = console[7 * row + p];
        const std::string expectedEcho =
            "S0=" + spot + ", K=" + strikes[row] + ", Call=" + fields[2] + ", Put=" + fields[3] +
            ", Theta=" + fields[probabilities ? 7 : 5] + "/" + fields[probabilities ? 8 : 6] +
            (p == 2 ? ", and Stdev(S)=" + stdevOfRow : "");
        EXPECT_EQ(echo, expectedEcho);
      }
      EXPECT_EQ(console[7 * row + 5], "Elapse time: 0 seconds.");
      EXPECT_EQ(console[7 * row + 6], std::string(40, '-'));
    }
    const auto lines = splitLines(run.out);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 2], "Total elapse time: 0 seconds.");
    EXPECT_EQ(lines.back(), "");
    EXPECT_EQ(dir.exists("VelmarTemp.txt"), !probabilities);
  }
}

TEST(BatchRun, ValuesKnownExactlyFromAOneRowDistribution) {
  // Every step returns 0.001, so each day ends at exactly 1.07 times the day before. With a
  // rate of 0 nothing is discounted and the shifted paths move like the base path.
  TempDir dir;
  const RunOutcome run = runBatchIn(dir, setupText({.runMode = "2", .trajectories = 1}),
                                    "0.001,5\n", "header\n100,95,30.9,a fourth field\n");
  ASSERT_EQ(run.status, 0);
  double terminal = 100.0;
  double dayBefore = 0.0;
  for (int day = 0; day < 30; ++day) {
    dayBefore = terminal;
    terminal = terminal * 1.07;
  }
  const auto console = rowLines(run.out);
  ASSERT_EQ(console.size(), 7u);
  const std::string call = g6(terminal - 95);
  const std::string theta = g6((terminal - 95) - (dayBefore - 95));
  EXPECT_EQ(console[2],
            "S0=100, K=95, Call=" + call + ", Put=0, Theta=" + theta + "/0, and Stdev(S)=-nan");
}

TEST(BatchRun, HeaderOnlyAndEmptyInputs) {
  for (const char* batch : {"", "S0,K,Days\n", "S0,K,Days"}) {
    TempDir dir;
    const RunOutcome run = runBatchIn(dir, setupText({.runMode = "2"}), kBell, batch);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir.read("Batch_Result.csv"), "S0,K,Call,Put,Stdev,ThetaC,ThetaP\n");
    EXPECT_EQ(run.out, bannerText("0", 2) + "OUTPUTS: \n\nTotal elapse time: 0 seconds.\n\n");
    EXPECT_FALSE(dir.exists("VelmarTemp.txt"));
  }
}

TEST(BatchRun, BlankLinesSkippedAndBlankTextValued) {
  TempDir dir;
  const RunOutcome run =
      runBatchIn(dir, setupText({.runMode = "2"}), kBell, "h\n\n100,95,1\n\n\n   \n100\n");
  ASSERT_EQ(run.status, 0);
  const auto console = rowLines(run.out);
  ASSERT_EQ(console.size(), 21u);
  // A line of blanks is a row of zeros; a lone number leaves the strike and days at 0.
  EXPECT_EQ(console[7 + 2].rfind("S0=0, K=0, ", 0), 0u) << console[9];
  EXPECT_EQ(console[14 + 2].rfind("S0=100, K=0, ", 0), 0u) << console[16];
  EXPECT_EQ(splitLines(dir.read("Batch_Result.csv")).size(), 16u);
}

TEST(BatchRun, LongHeaderSpillsIntoTheFirstRow) {
  TempDir dir;
  // 99 characters are discarded; the last 21 of the 120 are read as a row.
  const std::string rest = "100,95,1,abcdefghijkl";
  ASSERT_EQ(rest.size(), 21u);
  const RunOutcome run =
      runBatchIn(dir, setupText({.runMode = "2"}), kBell, std::string(99, 'x') + rest + "\n");
  const auto console = rowLines(run.out);
  ASSERT_EQ(console.size(), 7u);
  EXPECT_EQ(console[2].rfind("S0=100, K=95, ", 0), 0u);
}

TEST(BatchRun, CrLfInputsGiveTheSameRun) {
  auto runWith = [](const std::string& eol) {
    TempDir dir;
    auto lines = [&](std::initializer_list<const char*> ls) {
      std::string text;
      for (const char* l : ls) text += std::string(l) + eol;
      return text;
    };
    const RunOutcome run = runBatchIn(dir,
                                      lines({"1 RunMode 2", "2 N 30", "3 R 0.05", "4 S 1",
                                             "5 Shifts 1.02 0.98 1.01 0.99", "7 P 1"}),
                                      lines({"-0.004,1", "-0.002,4", "0,6", "0.002,4", "0.004,1"}),
                                      lines({"S0,K,Days", "100,95,1", "90,95,2"}));
    return std::make_pair(run.out, dir.read("Batch_Result.csv"));
  };
  const auto lf = runWith("\n");
  const auto crlf = runWith("\r\n");
  EXPECT_EQ(lf, crlf);
  EXPECT_EQ(splitLines(lf.second).size(), 11u);
}

TEST(BatchRun, RunsOnFromRowToRow) {
  // Two identical rows draw different numbers, so their values differ.
  TempDir dir;
  runBatchIn(dir, setupText({.runMode = "2", .trajectories = 50}), kBell,
             "h\n100,100,1\n100,100,1\n");
  const auto result = splitLines(dir.read("Batch_Result.csv"));
  ASSERT_EQ(result.size(), 11u);
  EXPECT_NE(result[3], result[8]);
}

}  // namespace
