// Whole valuations on distributions whose paths can be followed by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <cstring>

#include "runs/file_names.h"
#include "runs/settings.h"
#include "engine/table/random_generator.h"
#include "engine/valuation/terminal_text.h"
#include "tests/support/value_option.h"
#include "run_support.h"
#include "value_support.h"

using namespace empricer;

namespace {

constexpr double kE = 2.718281828459;

// Valuations in a fresh working directory, with the program's file names.
class ValueOptionTest : public ::testing::Test {
 protected:
  // The values alone, on the calling thread; positions 12 to 21 of `result` (the
  // probabilities) are written only when the request asks for them.
  void value(const ValuationRequest& request, ValuationResult& result) {
    DistributionCache distribution;
    ValuationQueue queue(1, SimulationChoice{});
    RowFigures figures{};
    const Status status = valueOption(request, figures, generator,
                                      {kDistributionFileName, kTemporaryFileName}, queue,
                                      distribution);
    ASSERT_TRUE(status.ok()) << status.message();
    if (!request.withProbabilities) {
      std::copy(std::begin(result.probCall), std::end(result.probCall), figures.result.probCall);
      std::copy(std::begin(result.probPut), std::end(result.probPut), figures.result.probPut);
    }
    result = figures.result;
  }
  TempDir dir;
  ScopedWorkingDirectory here{dir};
  RandomGenerator generator;
};

TEST_F(ValueOptionTest, ConstantRiseIsCappedAtTheDailyBand) {
  // One row: every step returns 0.001, so each path rises until the band holds it at 1.07
  // times its anchor; the anchor moves once a day.
  dir.write("dist.csv", "0.001,5\n");
  const ValuationRequest request = requestOf(100, 95, 2, 4);
  ValuationResult result{};
  value(request, result);

  const double terminal = 100.0 * 1.07 * 1.07;
  const double dayBefore = 100.0 * 1.07;
  // Four trajectories add the same payoff in turn; with a rate of 0 nothing is discounted.
  EXPECT_EQ(result.callValue, 0.25 * 1.0 * fourTimes(terminal - 95));
  EXPECT_EQ(result.putValue, 0.0);
  EXPECT_EQ(result.thetaCall[kBasePath],
            result.callValue - 0.25 * 1.0 * fourTimes(dayBefore - 95));
  // Every trajectory ends at the same price: no spread.
  EXPECT_EQ(result.stdevS, 0.0);
  // Shifted path 1 starts at 102.
  const double shifted = 102.0 * 1.07 * 1.07;
  EXPECT_NEAR(result.shiftCall[0], shifted - 95, 1e-12);
  EXPECT_NEAR(result.thetaCall[0], (shifted - 95) - (102.0 * 1.07 - 95), 1e-12);
}

TEST_F(ValueOptionTest, ProbabilitiesOffLeaveTheirPositionsAndAnEmptyFile) {
  dir.write("dist.csv", "-0.004,1\n0,2\n0.004,1\n");
  ValuationResult result;
  for (int i = 0; i < 5; ++i) result.probCall[i] = result.probPut[i] = -7.5;
  value(requestOf(100, 100, 1, 10), result);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(result.probCall[i], -7.5);
    EXPECT_EQ(result.probPut[i], -7.5);
  }
  ASSERT_TRUE(dir.exists("VelmarTemp.txt"));
  EXPECT_EQ(dir.read("VelmarTemp.txt"), "");
}

TEST_F(ValueOptionTest, ProbabilitiesOnAreSharesOfTrajectoriesAndTheFileIsRemoved) {
  dir.write("dist.csv", "-0.004,1\n-0.001,3\n0.001,3\n0.004,1\n");
  ValuationRequest request = requestOf(100, 100, 2, 40, 0.05);
  request.withProbabilities = true;
  ValuationResult result{};
  value(request, result);
  EXPECT_FALSE(dir.exists("VelmarTemp.txt"));
  for (int i = 0; i < 5; ++i) {
    for (double p : {result.probCall[i], result.probPut[i]}) {
      EXPECT_GE(p, 0.0);
      EXPECT_LE(p, 1.0);
      const double count = p * 40;
      EXPECT_NEAR(count, std::round(count), 1e-9);  // a multiple of 1/40
    }
  }
}

TEST_F(ValueOptionTest, OneDayHasThetasEqualToValues) {
  dir.write("dist.csv", "-0.004,1\n0,2\n0.004,1\n");
  ValuationResult result{};
  value(requestOf(100, 100, 1, 25, 0.05), result);
  for (int p = 0; p < kPathCount; ++p) {
    EXPECT_EQ(result.thetaCall[p], callValueOfPath(result, p));
    EXPECT_EQ(result.thetaPut[p], putValueOfPath(result, p));
  }
}

// Every step draws exactly one number, with the probabilities on or off, so the next
// valuation draws on from where the one-at-a-time loop would have left the generator.
TEST_F(ValueOptionTest, SameSeedSameResultsAndTheGeneratorRunsOn) {
  dir.write("dist.csv", "-0.004,1\n-0.002,10\n0,10\n0.002,10\n0.004,10\n");
  for (bool probabilities : {false, true}) {
    ValuationRequest request = requestOf(100, 100, 3, 21, 0.05);
    request.withProbabilities = probabilities;
    ValuationResult first{}, second{}, third{};
    seedRandom(generator, 12345);
    value(request, first);
    const std::uint32_t after = generator.state;
    seedRandom(generator, 12345);
    value(request, second);
    EXPECT_EQ(std::memcmp(&first, &second, sizeof first), 0);
    std::uint32_t expected = 12345;
    for (int i = 0; i < 21 * 3 * 270; ++i) expected = advanceRandomState(expected);
    EXPECT_EQ(after, expected);
    value(request, third);
    EXPECT_NE(std::memcmp(&first, &third, sizeof first), 0);
    EXPECT_GT(first.callValue, 0.0);
    EXPECT_GT(first.putValue, 0.0);
  }
}

TEST_F(ValueOptionTest, NoTrajectories) {
  dir.write("dist.csv", "0.001,5\n");
  ValuationResult zero{};
  value(requestOf(100, 95, 2, 0), zero);
  EXPECT_TRUE(std::isnan(zero.callValue));
  EXPECT_TRUE(std::isnan(zero.stdevS));
  EXPECT_TRUE(std::isnan(zero.thetaPut[4]));

  ValuationResult negative{};
  value(requestOf(100, 95, 2, -3), negative);
  EXPECT_EQ(negative.callValue, 0.0);
  EXPECT_TRUE(std::signbit(negative.callValue));
  EXPECT_EQ(negative.stdevS, 0.0);
}

TEST_F(ValueOptionTest, DaysBelowOneRunNoStep) {
  // No step: terminal prices are the starts; the discount exponent is positive.
  dir.write("dist.csv", "0.001,5\n");
  for (std::int32_t days : {0, -1, INT32_MIN}) {
    seedRandom(generator, 99);
    ValuationResult result{};
    value(requestOf(100, 95, days, 2, 0.05), result);
    EXPECT_EQ(generator.state, 99u) << days;
    const double d = std::pow(kE, -(static_cast<double>(days) * 0.05 * kOneOverStepsPerDay));
    EXPECT_EQ(result.callValue, 0.5 * d * (5.0 + 5.0)) << days;
  }
}

TEST(WinningProbabilities, JudgedOnTheSixDigitText) {
  ValuationResult result{};
  result.callValue = 1.0;  // base path call threshold 101
  result.putValue = 1.0;   // base path put threshold 99
  for (int k = 0; k < 4; ++k) result.shiftCall[k] = result.shiftPut[k] = 1.0;

  // Exactly at the thresholds: no win. Beyond them only past the sixth digit: written as the
  // threshold, so no win either. Past them in the sixth digit: a win.
  const double rows[4][5] = {{101, 99, 101, 99, 101},
                             {101.0000004, 98.9999996, 101.0000004, 98.9999996, 0},
                             {101.001, 98.999, 101.001, 98.999, 101.001},
                             {150, 50, 50, 150, 99}};
  std::string text;
  const ValuationRequest request = requestOf(100, 100, 1, 4, 0.0, true);
  RowPricer pricer(100.0);
  pricer.startWins(winThresholds(request, result, {}));
  for (const auto& row : rows) {
    double readBack[kPathCount];
    appendTerminalText(text, row, readBack);
    for (int p = 0; p < kPathCount; ++p) EXPECT_EQ(readBack[p], readBackPrice(row[p]));
    pricer.addWins(readBack);
  }
  EXPECT_EQ(text,
            "101,99,101,99,101\n101,99,101,99,0\n101.001,98.999,101.001,98.999,101.001\n"
            "150,50,50,150,99\n");
  RowFigures figures{};
  figures.result = result;
  formWins(request, {}, pricer.wins(), 4.0, figures);
  result = figures.result;
  // Column by column: calls win on 101.001 and 150; puts on 98.999, 50 and 0.
  EXPECT_EQ(result.probCall[0], 0.25 * 2);
  EXPECT_EQ(result.probPut[0], 0.0);
  EXPECT_EQ(result.probCall[1], 0.25 * 0);
  EXPECT_EQ(result.probPut[1], 0.25 * 2);
  EXPECT_EQ(result.probCall[2], 0.25 * 1);
  EXPECT_EQ(result.probPut[2], 0.25 * 1);
  EXPECT_EQ(result.probCall[3], 0.25 * 1);
  EXPECT_EQ(result.probPut[3], 0.25 * 1);
  EXPECT_EQ(result.probCall[4], 0.25 * 1);
  EXPECT_EQ(result.probPut[4], 0.25 * 1);
}

// A weighted price counts as that share of the total; the total is the caller's (a
// simulation's trajectories), not the number of prices fed.
TEST(WinningProbabilities, WeightsCountAgainstTheGivenTotal) {
  ValuationResult result{};
  const ValuationRequest request = requestOf(100, 100, 1, 4, 0.0, true);
  RowPricer pricer(100.0);
  pricer.startWins(winThresholds(request, result, {}));
  const double high[kPathCount] = {200, 200, 200, 200, 200};
  pricer.addWins(high, 2.0);
  RowFigures figures{};
  formWins(request, {}, pricer.wins(), 8.0, figures);
  result = figures.result;
  EXPECT_EQ(result.probCall[2], 0.25);
  EXPECT_EQ(result.probPut[2], 0.0);
}

}  // namespace
