// A day of N steps: at one step a day the exact law is the table's own draws held in the band,
// the simulation agrees with it, a day of many steps has the step's variance N times, the
// default of 270 gives the bytes it always gave, and a table read under the wrong N is told.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "engine/exact/day_shape.h"
#include "engine/table/draw_table.h"
#include "engine/exact/exact_law.h"
#include "engine/exact/exact_valuation.h"
#include "engine/desk/valuation_figures.h"
#include "run_support.h"
#include "value_support.h"

using namespace empricer;

namespace {

// A table of daily returns: fat tails (a Student-t of 3 degrees of freedom, scaled to a daily
// standard deviation of about 1.2 %), with returns out to +-12 %, so the band cuts some days.
std::string dailyDistribution() {
  std::string text;
  for (int i = 0; i <= 240; ++i) {
    const double x = -0.12 + 0.001 * i;
    const double t = x / 0.007;
    const double density = std::pow(1.0 + t * t / 3.0, -2.0);
    text += std::to_string(x) + "," + std::to_string(std::floor(20000.0 * density) + 1.0) + "\n";
  }
  return text;
}

std::unique_ptr<DrawTable> drawsOfText(const std::string& text) {
  std::vector<double> returns;
  std::vector<double> weights;
  for (const std::string& line : splitLines(text)) {
    const std::vector<std::string> f = fieldsOf(line);
    returns.push_back(std::stod(f[0]));
    weights.push_back(std::stod(f[1]));
  }
  const auto table = returnTableOf(returns, weights);
  auto draws = std::make_unique<DrawTable>();
  buildDrawTable(*table, static_cast<std::int32_t>(table->totalWeight), *draws);
  return draws;
}

double held(double factor) { return std::min(std::max(factor, kLowerBand), kUpperBand); }

}  // namespace

// One day of one step: every path's price is its start times one draw's factor held in the
// band. The exact values, spread and probabilities are the sums over the 32768 draws, within
// 1e-12, and the row is valued exactly rather than flagged as a comb.
TEST(StepsPerDay, OneStepADayIsTheTablesDrawsHeldInTheBand) {
  const auto draws = drawsOfText(dailyDistribution());
  for (const double strike : {80.0, 97.0, 100.0, 104.5, 125.0}) {
    ValuationRequest request = requestOf(100.0, strike, 1, 1, 0.05, true);
    request.stepsPerDay = 1;
    ExactModel model(*draws, ExactSetup{.growth = growthPerStep(request), .stepsPerDay = 1});
    ExactError error;
    const RowFigures f = model.value(request, FigureChoice{}, error);
    EXPECT_TRUE(std::isfinite(f.errorRatio)) << strike;
    const double d = discountOf(request);
    for (int p = 0; p < kPathCount; ++p) {
      const double start = startPriceOfPath(request, p);
      double call = 0.0;
      double put = 0.0;
      std::vector<double> ends;
      for (double w : draws->returnFor) {
        const double s = start * held(p == kBasePath ? 1.0 + w : w + growthPerStep(request));
        ends.push_back(s);
        call += std::max(s - strike, 0.0) / kGeneratorOutputs;
        put += std::max(strike - s, 0.0) / kGeneratorOutputs;
      }
      const double tolerance = 1e-12 * start;
      EXPECT_NEAR(callValueOfPath(f.result, p), d * call, tolerance) << strike << " path " << p;
      EXPECT_NEAR(putValueOfPath(f.result, p), d * put, tolerance) << strike << " path " << p;
      double above = 0.0;
      double below = 0.0;
      for (double s : ends) {
        above += s > strike + callValueOfPath(f.result, p) ? 1.0 : 0.0;
        below += s < strike - putValueOfPath(f.result, p) ? 1.0 : 0.0;
      }
      EXPECT_NEAR(f.result.probCall[p], above / kGeneratorOutputs, 1e-12) << strike << " " << p;
      EXPECT_NEAR(f.result.probPut[p], below / kGeneratorOutputs, 1e-12) << strike << " " << p;
      if (p == kBasePath) {
        double mean = 0.0;
        for (double s : ends) mean += s / kGeneratorOutputs;
        double variance = 0.0;
        for (double s : ends) variance += (s - mean) * (s - mean) / kGeneratorOutputs;
        EXPECT_NEAR(f.result.stdevS, std::sqrt(variance * d), 1e-12 * start) << strike;
      }
    }
  }
  // The day as the pricer sees it is the same held draws.
  const DayShape day = dayShapeOf(*draws, 1);
  double cut = 0.0;
  for (double w : draws->returnFor) cut += held(1.0 + w) != 1.0 + w ? 1.0 : 0.0;
  EXPECT_EQ(day.heldAtEnd, cut / kGeneratorOutputs);
  EXPECT_GT(day.heldAtEnd, 0.0) << "the table reaches beyond the band";
}

// A minute table's day of 390 steps, out of the band's reach: the day's log return has the
// variance of 390 steps (the lattice keeps each step's first three moments), so the annualised
// volatility of the day law is the step's x sqrt(390 x 252) within 1e-6.
TEST(StepsPerDay, ADayOfManyStepsHasTheStepsVarianceThatManyTimes) {
  std::string minute;
  for (int i = 0; i <= 200; ++i) {
    const double x = -0.0008 + 0.000008 * i;
    minute += std::to_string(x + 0.000002) + "," +
              std::to_string(std::floor(1000.0 * std::exp(-x * x / (2.0 * 0.0002 * 0.0002))) + 1.0) +
              "\n";
  }
  const auto draws = drawsOfText(minute);
  double mean = 0.0;
  for (double w : draws->returnFor) mean += std::log1p(w) / kGeneratorOutputs;
  double variance = 0.0;
  for (double w : draws->returnFor) {
    variance += (std::log1p(w) - mean) * (std::log1p(w) - mean) / kGeneratorOutputs;
  }
  for (const int n : {1, 78, 390}) {
    const DayLaw day =
        dayLaw(stepLaw(*draws, PathKind::base, 0.0), 4 * latticeFor(*draws), n);
    double m = 0.0;
    for (std::size_t j = 0; j < day.mass.size(); ++j) {
      m += day.mass[j] * (day.low + static_cast<double>(j) * day.spacing);
    }
    double v = 0.0;
    for (std::size_t j = 0; j < day.mass.size(); ++j) {
      const double x = day.low + static_cast<double>(j) * day.spacing - m;
      v += day.mass[j] * x * x;
    }
    const double expected = std::sqrt(n * variance * 252.0);
    EXPECT_NEAR(std::sqrt(v * 252.0), expected, 1e-6 * expected) << n;
    EXPECT_NEAR(m, n * mean, 1e-9) << n;
  }
}

// End to end on the daily table at one step a day: the simulation (200,000 trajectories)
// agrees with --exact within four standard errors at 5 and 21 days, every path and both sides;
// the table warns under the default of 270 steps, naming 1, and not under 1.
TEST(StepsPerDay, TheSimulationAgreesWithTheExactLawAndAWrongDayIsTold) {
  const std::string batch = "S0,K,Days\n100,92,5\n100,100,5\n100,106,21\n100,100,21\n";
  auto resultsOf = [&](const std::vector<std::string>& arguments, int trajectories,
                       RunOutcome& outcome) {
    TempDir dir;
    dir.write("Setup.txt", setupText({.runMode = "2", .trajectories = trajectories,
                                      .rate = "0.05"}));
    dir.write("dist.csv", dailyDistribution());
    dir.write("batch.csv", batch);
    std::vector<std::string> all = {"--quiet", "--results", "r.csv"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    outcome = runIn(dir, {.clock = kStillClock, .arguments = all});
    return resultsByLine(dir.read("r.csv"));
  };
  RunOutcome exactRun;
  RunOutcome simulatedRun;
  const auto exact = resultsOf({"--steps-per-day", "1", "--exact"}, 10, exactRun);
  const auto simulated =
      resultsOf({"--steps-per-day", "1", "--seed", "20261210", "--chain", "--threads", "2"},
                200000, simulatedRun);
  ASSERT_EQ(exactRun.status, 0) << exactRun.err;
  ASSERT_EQ(simulatedRun.status, 0) << simulatedRun.err;
  EXPECT_EQ(exactRun.err.find("warning"), std::string::npos) << exactRun.err;
  ASSERT_EQ(exact.size(), 20u);
  for (const auto& [key, line] : exact) {
    const ResultsLine& sampled = simulated.at(key);
    for (const auto& [value, error] : {std::pair{"call", "se_call"}, std::pair{"put", "se_put"}}) {
      const double se = std::stod(sampled.at(error));
      EXPECT_NEAR(std::stod(sampled.at(value)), std::stod(line.at(value)), 4.0 * se + 1e-6)
          << key << " " << value;
    }
  }
  RunOutcome underDefault;
  resultsOf({"--exact"}, 10, underDefault);
  EXPECT_NE(underDefault.err.find("--steps-per-day 1 gives"), std::string::npos)
      << underDefault.err;
}

// The default is 270 steps a day: --steps-per-day 270 gives the same bytes, simulated, on
// chains and exact.
TEST(StepsPerDay, TwoHundredSeventyIsTheDefaultByteForByte) {
  const std::string batch = "S0,K,Days\n100,98,2\n100,103,7\n95,95,1\n";
  for (const std::vector<std::string>& method :
       {std::vector<std::string>{"--seed", "7"}, {"--seed", "7", "--chain"}, {"--exact"}}) {
    std::string bytes[2];
    for (int given = 0; given < 2; ++given) {
      TempDir dir;
      writeBellInputs(dir, {.runMode = "2", .trajectories = 300, .rate = "0.05",
                            .probabilities = true},
                      batch);
      std::vector<std::string> arguments = {"--quiet", "--results", "r.csv"};
      arguments.insert(arguments.end(), method.begin(), method.end());
      if (given == 1) arguments.insert(arguments.end(), {"--steps-per-day", "270"});
      const RunOutcome run = runIn(dir, {.clock = kStillClock, .arguments = arguments});
      ASSERT_EQ(run.status, 0) << run.err;
      bytes[given] = run.out + run.err + dir.read("Batch_Result.csv") + dir.read("r.csv");
    }
    EXPECT_EQ(bytes[0], bytes[1]) << method.back();
  }
}
