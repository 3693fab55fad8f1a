// Whole manual runs of the real executable.
#include <gtest/gtest.h>

#include <cmath>

#include "runs/settings.h"
#include "run_support.h"
#include "value_support.h"

using namespace empricer;

namespace {

using namespace std::string_literals;

constexpr double kE = 2.718281828459;

TEST(ManualRun, ReportWithProbabilitiesFromAOneRowDistribution) {
  // Every step returns 0.001: each path ends each day at exactly 1.07 times the day before.
  // A rate of 5 discounts the values, so that the terminal price clears the call threshold.
  TempDir dir;
  dir.write("Setup.txt",
            setupText({.runMode = "1", .trajectories = 4, .rate = "5", .probabilities = true}));
  dir.write("dist.csv", "0.001,5\n");
  const RunOutcome run = runIn(dir, {.input = "100\n95\n2\n", .clock = kStillClock});
  ASSERT_EQ(run.status, 0) << run.out;

  const double d = std::pow(kE, -(2.0 * 5.0 * kOneOverStepsPerDay));
  const double d1 = std::pow(kE, -(1.0 * 5.0 * kOneOverStepsPerDay));
  auto call = [&](double start) { return 0.25 * d * fourTimes(start * 1.07 * 1.07 - 95); };
  auto theta = [&](double start) {
    return call(start) - 0.25 * d1 * fourTimes(start * 1.07 - 95);
  };
  const std::vector<std::string> expected = {
      "PARAMETERS:",
      "Risk Free Rate:       5",
      "Num of Trajectories:  4",
      "",
      "INPUTS:",
      "Underlying Price: Strike Price: Time to Maturity (days): ",
      "OUTPUT:",
      "Call Value = " + g6(call(100)),
      "Put Value  = 0",
      "Stdev of S = 0",
      "Theta: Call = " + g6(theta(100)) + "; Put = 0",
      "Winning Probabilities: Call = 1; Put = 0",
      "",
      "DdelV OUTPUT 1: S0 = 102; Return = 1.02",
      "    Call Value = " + g6(call(102)) + "    Put Value = 0",
      "    Theta Call = " + g6(theta(102)) + "    Theta Put = 0",
      "    Prob: Call = 1; Put = 0",
      "DdelV OUTPUT 2: S0 = 98; Return = 0.98",
      "    Call Value = " + g6(call(98)) + "    Put Value = 0",
      "    Theta Call = " + g6(theta(98)) + "    Theta Put = 0",
      "    Prob: Call = 1; Put = 0",
      "DdelV OUTPUT 3: S0 = 101; Return = 1.01",
      "    Call Value = " + g6(call(101)) + "    Put Value = 0",
      "    Theta Call = " + g6(theta(101)) + "    Theta Put = 0",
      "    Prob: Call = 1; Put = 0",
      "DdelV OUTPUT 4: S0 = 99; Return = 0.99",
      "    Call Value = " + g6(call(99)) + "    Put Value = 0",
      "    Theta Call = " + g6(theta(99)) + "    Theta Put = 0",
      "    Prob: Call = 1; Put = 0",
      "Elapse time: 0 seconds.",
      "",
  };
  EXPECT_EQ(splitLines(run.out), expected);
  EXPECT_FALSE(dir.exists("VelmarTemp.txt"));
}

TEST(ManualRun, ReportWithoutProbabilitiesHasTwentyLines) {
  TempDir dir;
  dir.write("Setup.txt", setupText({.runMode = "1", .trajectories = 10, .rate = "0.05"}));
  dir.write("dist.csv", "-0.004,1\n0,2\n0.004,1\n");
  const RunOutcome run = runIn(dir, {.input = "100 95 3\n", .clock = kStillClock});
  ASSERT_EQ(run.status, 0);
  const auto lines = splitLines(run.out);
  // Banner (4), "INPUTS:", the report (20, its first empty line ending the prompts' line)
  // and the closing empty line.
  ASSERT_EQ(lines.size(), 4u + 1 + 20 + 1);
  EXPECT_EQ(lines[5], "Underlying Price: Strike Price: Time to Maturity (days): ");
  EXPECT_EQ(lines[6], "OUTPUT:");
  EXPECT_EQ(lines[10].rfind("Theta: Call = ", 0), 0u);
  EXPECT_EQ(lines[11], "");
  EXPECT_EQ(lines[12], "DdelV OUTPUT 1: S0 = 102; Return = 1.02");
  EXPECT_EQ(lines[15], "DdelV OUTPUT 2: S0 = 98; Return = 0.98");
  EXPECT_EQ(lines[18], "DdelV OUTPUT 3: S0 = 101; Return = 1.01");
  EXPECT_EQ(lines[21], "DdelV OUTPUT 4: S0 = 99; Return = 0.99");
  EXPECT_EQ(lines[24], "Elapse time: 0 seconds.");
  EXPECT_EQ(lines[25], "");
  EXPECT_EQ(dir.read("VelmarTemp.txt"), "");
}

TEST(ManualRun, UnreadableAnswersStillValueWithZeros) {
  TempDir dir;
  dir.write("Setup.txt", setupText({.runMode = "1"}));
  dir.write("dist.csv", "0.001,5\n");
  const RunOutcome run = runIn(dir, {.input = "abc\n", .clock = kStillClock});
  ASSERT_EQ(run.status, 0);
  const auto lines = splitLines(run.out);
  ASSERT_GT(lines.size(), 13u);
  // Spot 0, strike 0, 0 days: every payoff is 0.
  EXPECT_EQ(lines[7], "Call Value = 0");
  EXPECT_EQ(lines[8], "Put Value  = 0");
  EXPECT_EQ(lines[12], "DdelV OUTPUT 1: S0 = 0; Return = 1.02");
}

TEST(ManualRun, ElapsedTimeCountsFromTheStart) {
  TempDir dir;
  dir.write("Setup.txt", setupText({.runMode = "1"}));
  dir.write("dist.csv", "0.001,5\n");
  // Readings: seed, start, then the two readings of the elapsed line. The first decides
  // between seconds and minutes, the second gives the number. The closing line ends the run.
  struct Case {
    std::int64_t step;
    const char* line;
  };
  for (const Case c :
       {Case{100, "Elapse time: 200 seconds."}, Case{200, "Elapse time: 6 minutes."}}) {
    const RunOutcome run =
        runIn(dir, {.input = "100 95 1\n", .clock = ReplayClock{1700000000, c.step}});
    EXPECT_TRUE(run.out.ends_with("\n"s + c.line + "\n\n")) << run.out;
  }
}

}  // namespace
