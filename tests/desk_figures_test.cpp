// The desk's figures: the pathwise delta and gamma against revaluing at bumped starts on the
// same draws, the implied volatilities, deltas and gammas of a near-normal table against
// Black's formula, and the tidy results file of manual, batch and chain runs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "runs/file_names.h"
#include "runs/results_file.h"
#include "engine/desk/desk_figures.h"
#include "engine/table/distribution_cache.h"
#include "tests/support/value_option.h"
#include "run_support.h"
#include "value_support.h"

using namespace empricer;

namespace {

double normalCdf(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }

struct Valued {
  ValuationResult result{};
  DeskFigures desk{};
};

Valued valueAt(const ValuationRequest& request, std::uint32_t seed) {
  RowFigures figures{};
  RandomGenerator generator{seed};
  ValuationQueue queue(2, {});
  DistributionCache distribution;
  EXPECT_TRUE(valueOption(request, figures, generator,
                          {kDistributionFileName, kTemporaryFileName}, queue, distribution,
                          {.standardErrors = true, .desk = true})
                  .ok());
  return {figures.result, figures.desk};
}

// The paths scale with their start, so revaluing at S0 (1 +- e) on the same draws is the
// pathwise bump: the central differences of the calls give the pathwise delta and gamma.
TEST(DeskFigures, PathwiseGreeksMatchRevaluingOnTheSameDraws) {
  TempDir dir;
  ScopedWorkingDirectory inDir(dir);
  dir.write(kDistributionFileName, bellDistribution(101, 0.004));
  for (const double strike : {96.0, 100.0, 104.0}) {
    for (const std::int32_t days : {2, 6}) {
      const ValuationRequest at = requestOf(100.0, strike, days, 4000, 0.05);
      const Valued base = valueAt(at, 11u);
      const double e = 1e-3;
      ValuationRequest up = at, down = at;
      up.spot = 100.0 * (1 + e);
      down.spot = 100.0 * (1 - e);
      const Valued u = valueAt(up, 11u), w = valueAt(down, 11u);
      const double delta = (u.result.callValue - w.result.callValue) / (2 * e * 100.0);
      EXPECT_NEAR(base.desk.deltaCall[kBasePath], delta, 0.01) << strike << " " << days;
      const double put = (u.result.putValue - w.result.putValue) / (2 * e * 100.0);
      EXPECT_NEAR(base.desk.deltaPut[kBasePath], put, 0.01) << strike << " " << days;
      // Gamma from values at the same bump as the pathwise one.
      DistributionCache distribution;
      ASSERT_TRUE(distribution.refresh(kDistributionFileName).ok());
      const double h = gammaBump(distribution.current()->draws, days, kDefaultStepsPerDay);
      ValuationRequest far = at, near = at;
      far.spot = 100.0 * (1 + h);
      near.spot = 100.0 * (1 - h);
      const Valued f = valueAt(far, 11u), n = valueAt(near, 11u);
      const double gamma = (f.result.callValue - 2 * base.result.callValue + n.result.callValue) /
                           (h * 100.0 * h * 100.0);
      EXPECT_NEAR(base.desk.gamma[kBasePath], gamma, 0.1 * std::fabs(gamma)) << strike << " " << days;
    }
  }
}

// A near-normal table (zero mean, small steps) at rate 0, as a chain: each row's implied
// volatility is the table's daily standard deviation, and its deltas and gammas are Black's.
TEST(DeskFigures, ANearNormalTableGivesBlacksFigures) {
  TempDir dir;
  dir.write("dist.csv", bellDistribution(201, 0.001));
  dir.write("Setup.txt", setupText({.runMode = "2", .trajectories = 80000, .rate = "0"}));
  std::string batch = "S0,K,Days\n";
  for (int days : {5, 10}) {
    for (int k = 97; k <= 101; ++k) batch += "100," + std::to_string(k) + "," + std::to_string(days) + "\n";
  }
  dir.write("batch.csv", batch);
  const RunOutcome run = runIn(
      dir, {.clock = kStillClock, .arguments = {"--seed", "3", "--chain", "--results", "r.csv"}});
  ASSERT_EQ(run.status, 0) << run.err;

  DistributionCache distribution;
  {
    ScopedWorkingDirectory inDir(dir);
    ASSERT_TRUE(distribution.refresh("dist.csv").ok());
  }
  double sum = 0, squares = 0;
  for (double w : distribution.current()->draws.returnFor) sum += w;
  const double mean = sum / kGeneratorOutputs;
  for (double w : distribution.current()->draws.returnFor) squares += (w - mean) * (w - mean);
  const double daily = std::sqrt(squares / kGeneratorOutputs) * std::sqrt(270.0);

  int checked = 0;
  for (const std::string& line : splitLines(dir.read("r.csv"))) {
    const std::vector<std::string> f = fieldsOf(line);
    if (f.size() != 32 || f[1] != "base") continue;
    const double strike = std::stod(f[3]), days = std::stod(f[4]), forward = std::stod(f[14]);
    // Black on the forward F = g S0, g the paths' growth (the table's mean is not exactly 0):
    // delta g N(d1), gamma g phi(d1) / (S0 s).
    const double s = daily * std::sqrt(days);
    const double d1 = std::log(forward / strike) / s + s / 2;
    const double g = forward / 100.0;
    EXPECT_NEAR(std::stod(f[15]), daily, 0.01 * daily) << line;
    EXPECT_NEAR(std::stod(f[16]), daily * std::sqrt(252.0), 0.01 * daily * std::sqrt(252.0));
    EXPECT_NEAR(std::stod(f[17]), g * normalCdf(d1), 0.006) << line;
    EXPECT_NEAR(std::stod(f[18]), g * (normalCdf(d1) - 1), 0.006) << line;
    const double gamma = g * std::exp(-d1 * d1 / 2) / std::sqrt(2 * M_PI) / (100.0 * s);
    EXPECT_NEAR(std::stod(f[19]), gamma, 0.08 * gamma) << line;
    ++checked;
  }
  EXPECT_EQ(checked, 10);
}

// The tidy file's rows and columns: a manual run, a batch shard and a chain; the numbers read
// back to the values Batch_Result.csv shows in six digits.
TEST(DeskFigures, TheResultsFileHoldsEveryRowAndPath) {
  const std::string batch = "S0,K,Days\n100,95,3\n90,90,0\n100,100,3e9\n100,105,2\n";
  struct Case {
    std::vector<std::string> arguments;
    std::string mode;
    std::vector<std::string> rows;  // the row numbers, one per five lines
  };
  const std::vector<Case> cases = {
      {{}, "1", {"1"}},
      {{"--rows", "2-4"}, "2", {"2", "4"}},
      {{"--chain"}, "2", {"1", "2", "4"}},
      {{"--chain", "--trading-days", "365"}, "2", {"1", "2", "4"}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    dir.write("dist.csv", bellDistribution(41, 0.004));
    dir.write("Setup.txt", setupText({.runMode = c.mode, .trajectories = 50, .rate = "0.05",
                                      .probabilities = c.mode == "2"}));
    dir.write("batch.csv", batch);
    std::vector<std::string> args = {"--seed", "8", "--results", "r.csv"};
    args.insert(args.end(), c.arguments.begin(), c.arguments.end());
    const RunOutcome run = runIn(dir, {.input = "100\n95\n3\n", .clock = kStillClock,
                                       .arguments = args});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = splitLines(dir.read("r.csv"));
    ASSERT_EQ(lines.size(), 1 + 5 * c.rows.size()) << c.arguments.size();
    EXPECT_EQ(lines[0], kResultsHeader);
    const std::vector<std::string> results =
        c.mode == "2" ? splitLines(dir.read("Batch_Result.csv")) : std::vector<std::string>{};
    const char* paths[] = {"shift1", "shift2", "base", "shift3", "shift4"};
    for (std::size_t i = 1; i < lines.size(); ++i) {
      const std::vector<std::string> f = fieldsOf(lines[i]);
      ASSERT_EQ(f.size(), 32u) << lines[i];
      const int p = static_cast<int>((i - 1) % 5);
      EXPECT_EQ(f[0], c.rows[(i - 1) / 5]);
      EXPECT_EQ(f[1], paths[p]);
      EXPECT_EQ(f[7].empty(), p != kBasePath) << lines[i];  // stdev on the base line only
      EXPECT_EQ(f[8].empty(), c.mode != "2") << lines[i];   // probabilities only when on
      for (int k : {12, 13, 14, 17, 18}) EXPECT_FALSE(f[static_cast<std::size_t>(k)].empty());
      // No quotes: their fields are empty. The run's own columns: the row's discount, how it
      // was made, and from what.
      for (int k = 20; k < 28; ++k) EXPECT_TRUE(f[static_cast<std::size_t>(k)].empty());
      const double days = std::stod(f[4]);
      EXPECT_DOUBLE_EQ(std::stod(f[28]), std::pow(2.718281828459, -(days * 0.05 / 270.0)));
      EXPECT_EQ(f[29] + "," + f[30] + "," + f[31], "simulation,50,8");
      if (!results.empty()) {
        // Batch_Result.csv: S0,K,Call,Put,... in six digits.
        const std::vector<std::string> b = fieldsOf(results[i]);
        for (int k = 0; k < 2; ++k) {
          const double tidy = std::stod(f[static_cast<std::size_t>(k == 0 ? 5 : 6)]);
          char six[32];
          std::snprintf(six, sizeof six, "%g", tidy);
          EXPECT_EQ(std::string(six), b[static_cast<std::size_t>(2 + k)]) << lines[i];
        }
      }
      if (f[4] == "0") {
        EXPECT_EQ(f[15], "nan");  // no step: no volatility and no gamma
        EXPECT_EQ(f[19], "nan");
      } else if (c.arguments.size() == 3 && f[15] != "nan") {
        EXPECT_NEAR(std::stod(f[16]), std::stod(f[15]) * std::sqrt(365.0), 1e-12);
      }
    }
  }
}

}  // namespace
