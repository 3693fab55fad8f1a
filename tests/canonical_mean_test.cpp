// empricer-dist --mean canonical: the history's table with its returns kept and its weights
// tilted by exp(theta x return) onto the risk-neutral mean, read back through the valuation's
// own loader and draw table; and a mean that no tilt reaches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "builder/canonical_tilt.h"
#include "engine/table/draw_table.h"
#include "engine/table/return_table.h"
#include "return_samples.h"
#include "run_support.h"

using namespace empricer;

namespace {

// A price file for `returns`, one price a line from 100, written to read back exactly.
std::string pricesText(const std::vector<double>& returns) {
  std::string text = "date,close\n";
  double price = 100.0;
  for (std::size_t t = 0; t <= returns.size(); ++t) {
    if (t > 0) price *= 1.0 + returns[t - 1];
    char number[32];
    std::snprintf(number, sizeof number, "%.17g", price);
    text += std::string("2025-03-03,") + number + "\n";
  }
  return text;
}

std::unique_ptr<ReturnTable> loaded(const TempDir& dir, const std::string& name) {
  auto table = std::make_unique<ReturnTable>();
  EXPECT_TRUE(loadReturnTable(*table, dir.file(name).c_str()).ok()) << name;
  return table;
}

// The figure after `label` and its blanks on the report's line that starts with it.
double reported(const std::string& report, const std::string& label) {
  for (const std::string& line : splitLines(report)) {
    if (line.rfind(label + "  ", 0) == 0) return std::stod(line.substr(label.size()));
  }
  ADD_FAILURE() << "no line '" << label << "' in\n" << report;
  return NAN;
}

// The risk-neutral mean per step of rate 0.05, step scale 1 and `carry`.
double riskNeutralTarget(double carry) { return std::expm1((0.05 - carry) * (1.0 / 270) / 270); }

struct Line {
  double intercept = 0.0;
  double slope = 0.0;
};

// The least-squares line through (x, y), each point weighted by 1 / its tolerance squared: the
// line follows the points known most precisely.
Line fitted(const std::vector<double>& x, const std::vector<double>& y,
            const std::vector<double>& tolerances) {
  double total = 0.0;
  double mx = 0.0;
  double my = 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double w = 1.0 / (tolerances[i] * tolerances[i]);
    total += w;
    mx += w * x[i];
    my += w * y[i];
  }
  mx /= total;
  my /= total;
  double sxy = 0.0;
  double sxx = 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double w = 1.0 / (tolerances[i] * tolerances[i]);
    sxy += w * (x[i] - mx) * (y[i] - my);
    sxx += w * (x[i] - mx) * (x[i] - mx);
  }
  const double slope = sxy / sxx;
  return {my - slope * mx, slope};
}

}  // namespace

TEST(CanonicalMean, TheWeightsAreTheHistorysTiltedAndTheDrawnMeanIsTheRiskNeutralOne) {
  TempDir dir;
  dir.write("Setup.txt", setupText(SetupFile{.runMode = "1", .rate = "0.05"}));
  for (const ReturnSample& sample : returnSamples(5400, 83)) {
    dir.write("prices.csv", pricesText(sample.returns));
    ASSERT_EQ(runDistIn(dir, {"--force", "--out", "data.csv", "prices.csv"}).status, 0);
    const auto history = loaded(dir, "data.csv");
    for (const char* carry : {"0", "0.75", "-1.5"}) {
      const std::string label = sample.name + " --carry " + carry;
      const RunOutcome run = runDistIn(
          dir, {"--force", "--mean", "canonical", "--carry", carry, "prices.csv"});
      ASSERT_EQ(run.status, 0) << label << run.err;
      const auto table = loaded(dir, "dist.csv");
      ASSERT_EQ(table->rowCount, history->rowCount) << label;
      EXPECT_EQ(table->totalWeight, 32768.0) << label;

      // The returns are the history's table's, bit for bit; the first row keeps its weight.
      std::vector<double> returns;
      std::vector<double> logRatios;
      std::vector<double> tolerances;
      int largest = 1;
      for (int i = 0; i < table->rowCount; ++i) {
        EXPECT_EQ(table->returns[i], history->returns[i]) << label << " row " << i;
        if (table->weights[i] > table->weights[largest]) largest = i;
      }
      EXPECT_EQ(table->weights[0], history->weights[0]) << label;
      for (int i = 1; i < table->rowCount; ++i) {
        if (history->weights[i] == 0.0) {
          EXPECT_EQ(table->weights[i], 0.0) << label << " row " << i;
          continue;
        }
        ASSERT_GT(table->weights[i], 0.0) << label << " row " << i;
        returns.push_back(table->returns[i]);
        logRatios.push_back(std::log(table->weights[i] / history->weights[i]));
        // The grid's rounding; the largest weight also took the remainder of every row's.
        const double steps = i == largest ? table->rowCount : 1.0;
        tolerances.push_back(steps * kTiltWeightGrid / table->weights[i] + 1e-12);
      }
      // log(q / p) is affine in the return, with theta for its slope.
      const Line line = fitted(returns, logRatios, tolerances);
      double worst = 0.0;
      for (std::size_t i = 0; i < returns.size(); ++i) {
        const double residual = logRatios[i] - (line.intercept + line.slope * returns[i]);
        worst = std::max(worst, std::fabs(residual) / tolerances[i]);
      }
      EXPECT_LE(worst, 1.0) << label;
      const double theta = reported(run.out, "theta");
      EXPECT_NEAR(line.slope, theta, 1e-5 * std::fabs(theta) + 1e-9) << label;

      // The mean that the valuation draws is the risk-neutral mean, within what the report says.
      const std::vector<double> draws = drawsOf(*table);
      const SampleMoments drawn = sampleMoments(draws);
      const double target = riskNeutralTarget(std::stod(carry));
      const std::string said = "The table's mean differs from the target's by ";
      const std::size_t at = run.out.find(said);
      ASSERT_NE(at, std::string::npos) << run.out;
      const double miss = std::stod(run.out.substr(at + said.size()));
      EXPECT_LE(miss, 1e-6) << label;
      EXPECT_LE(std::fabs(drawn.mean - target), std::max(1.01 * miss, 1e-9) * drawn.standardDeviation)
          << label;
      // The tilt is small: the relative entropy tiny, the sample hardly smaller.
      EXPECT_GE(reported(run.out, "relative entropy"), 0.0) << label;
      EXPECT_LT(reported(run.out, "relative entropy"), 0.05) << label;
      EXPECT_LE(reported(run.out, "effective sample size"), 5400.0) << label;
    }
  }
}

TEST(CanonicalMean, AMeanThatNoTiltReachesIsRefusedWithStatus1AndNoTable) {
  TempDir dir;
  dir.write("Setup.txt", setupText(SetupFile{.runMode = "1", .rate = "0.05"}));
  dir.write("prices.csv", pricesText(returnSamples(2000, 89)[0].returns));
  // A carry of 2000 a year asks for about -0.027 a step: below the lowest return.
  for (const char* carry : {"2000", "-2000"}) {
    const RunOutcome run =
        runDistIn(dir, {"--mean", "canonical", "--carry", carry, "prices.csv"});
    EXPECT_EQ(run.status, 1) << carry;
    EXPECT_EQ(run.out, "") << carry;
    EXPECT_EQ(run.err.rfind("empricer-dist: --mean canonical: the mean per step ", 0), 0u)
        << run.err;
    EXPECT_NE(run.err.find("lies outside the returns' range, from "), std::string::npos)
        << run.err;
    EXPECT_FALSE(readFile(dir.file("dist.csv"))) << carry;
  }
  // --setup and --carry belong to a mean from the rate.
  const RunOutcome data = runDistIn(dir, {"--carry", "0.01", "prices.csv"});
  EXPECT_EQ(data.status, 2);
  EXPECT_EQ(data.err.rfind("empricer-dist: option '--carry' needs '--mean risk-neutral', "
                           "'--mean canonical', '--target-vol' or '--fit'", 0),
            0u)
      << data.err;
}

// --target-vol: the table draws the risk-neutral mean and the annualised volatility asked for,
// above and below the history's, and log(q / p) is a quadratic in the return (its residuals
// within the grid's rounding, away from the grid's floor); a volatility no tilt draws is refused with status 1 and no
// table, and --mean beside it is a usage error.
TEST(CanonicalMean, ATargetVolatilityIsDrawnByAQuadraticTilt) {
  TempDir dir;
  dir.write("Setup.txt", setupText(SetupFile{.runMode = "1", .rate = "0.05"}));
  dir.write("prices.csv", pricesText(returnSamples(5400, 83)[1].returns));
  ASSERT_EQ(runDistIn(dir, {"--force", "--out", "data.csv", "prices.csv"}).status, 0);
  const auto history = loaded(dir, "data.csv");
  const double historyVol = sampleMoments(drawsOf(*history)).standardDeviation *
                            std::sqrt(270.0 * 250.0);
  for (const double asked : {1.5 * historyVol, 0.6 * historyVol}) {
    const std::string text = std::to_string(asked);
    const double vol = std::stod(text);
    const std::string label = "--target-vol " + text;
    const RunOutcome run = runDistIn(
        dir, {"--force", "--target-vol", text, "--trading-days", "250", "prices.csv"});
    ASSERT_EQ(run.status, 0) << label << run.err;
    const auto table = loaded(dir, "dist.csv");
    const SampleMoments drawn = sampleMoments(drawsOf(*table));
    EXPECT_NEAR(drawn.standardDeviation * std::sqrt(270.0 * 250.0), vol, 1e-8 * vol) << label;
    EXPECT_NEAR(drawn.mean, riskNeutralTarget(0.0), 1e-9 * drawn.standardDeviation) << label;
    // Normal equations of the weighted least-squares quadratic through log(q / p).
    double m[3][4] = {};
    std::vector<double> x;
    std::vector<double> y;
    std::vector<double> tolerance;
    double scale = 0.0;  // the returns in units of the largest, for well-scaled equations
    for (int i = 1; i < table->rowCount; ++i) scale = std::max(scale, std::fabs(table->returns[i]));
    for (int i = 1; i < table->rowCount; ++i) {
      // Rows at the grid's floor are held there, not tilted.
      if (history->weights[i] == 0.0 || table->weights[i] <= 2.0 * kTiltWeightGrid) continue;
      x.push_back(table->returns[i] / scale);
      y.push_back(std::log(table->weights[i] / history->weights[i]));
      // The grid's rounding; the largest weight also took the remainder of every row's.
      const bool largest = table->weights[i] == *std::max_element(table->weights + 1,
                                                                   table->weights + table->rowCount);
      tolerance.push_back((largest ? table->rowCount : 1.0) * kTiltWeightGrid /
                              table->weights[i] + 1e-12);
      const double w = 1.0 / (tolerance.back() * tolerance.back());
      const double powers[3] = {1.0, x.back(), x.back() * x.back()};
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) m[r][c] += w * powers[r] * powers[c];
        m[r][3] += w * powers[r] * y.back();
      }
    }
    for (int p = 0; p < 3; ++p) {
      for (int r = p + 1; r < 3; ++r) {
        const double f = m[r][p] / m[p][p];
        for (int c = p; c < 4; ++c) m[r][c] -= f * m[p][c];
      }
    }
    double coefficient[3];
    for (int r = 2; r >= 0; --r) {
      double rest = m[r][3];
      for (int c = r + 1; c < 3; ++c) rest -= m[r][c] * coefficient[c];
      coefficient[r] = rest / m[r][r];
    }
    double worst = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
      const double fit = coefficient[0] + coefficient[1] * x[i] + coefficient[2] * x[i] * x[i];
      worst = std::max(worst, std::fabs(y[i] - fit) / tolerance[i]);
    }
    EXPECT_LE(worst, 1.0) << label;
    const double curvature = coefficient[2] / (scale * scale);
    EXPECT_NEAR(curvature, reported(run.out, "c"), 1e-5 * std::fabs(curvature)) << label;
  }
  const RunOutcome wild = runDistIn(dir, {"--force", "--target-vol", "40", "prices.csv"});
  EXPECT_EQ(wild.status, 1);
  EXPECT_EQ(wild.err.rfind("empricer-dist: --target-vol: a standard deviation per step of ", 0),
            0u)
      << wild.err;
  const RunOutcome both =
      runDistIn(dir, {"--force", "--target-vol", "0.2", "--mean", "canonical", "prices.csv"});
  EXPECT_EQ(both.status, 2);
  EXPECT_NE(both.err.find("options '--target-vol' and '--mean' both set the mean"),
            std::string::npos)
      << both.err;
}
