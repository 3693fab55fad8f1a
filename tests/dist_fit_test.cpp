// The fitting core of empricer-dist: the targets per generator output, the rows laid through
// them, and the table text, each checked through the valuation's own loader and draw table.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <set>

#include "builder/quantile_targets.h"
#include "builder/table_fit.h"
#include "builder/table_text.h"
#include "engine/valuation/constants.h"
#include "engine/table/return_table.h"
#include "return_samples.h"

using namespace empricer;

namespace {

// The table as the valuation reads `rows`, from their text.
std::unique_ptr<ReturnTable> loadedTable(const std::vector<DistRow>& rows) {
  const std::string text = tableText(rows);
  InputStream stream;
  openFromMemory(stream, text.data(), text.size());
  auto table = std::make_unique<ReturnTable>();
  const Status loaded = readReturnTable(*table, stream, "dist.csv");
  EXPECT_TRUE(loaded.ok()) << loaded.message();
  return table;
}

std::vector<double> sorted(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values;
}

TEST(TableText, EveryDoubleReadsBackExactlyThroughTheLoader) {
  std::mt19937_64 random(7);
  std::uniform_int_distribution<std::int32_t> weight(0, 100000);
  std::normal_distribution<double> small(0.0, 0.002);
  const double special[] = {0.0, -0.0, std::numeric_limits<double>::denorm_min(),
                            -std::numeric_limits<double>::max(), 1e-300, 0.1, -1.0 / 3.0};
  for (int round = 0; round < 4; ++round) {
    std::vector<DistRow> rows;
    for (const double value : special) rows.push_back({value, weight(random)});
    while (rows.size() < 1000) {
      // Any finite bit pattern, or a return of the usual size.
      double value = std::bit_cast<double>(random());
      if (!std::isfinite(value) || rows.size() % 2 == 0) value = small(random);
      rows.push_back({value, weight(random)});
    }
    const auto table = loadedTable(rows);
    ASSERT_EQ(table->rowCount, 1000);
    for (std::int32_t i = 0; i < table->rowCount; ++i) {
      const DistRow& row = rows[static_cast<std::size_t>(i)];
      ASSERT_EQ(std::bit_cast<std::uint64_t>(table->returns[i]),
                std::bit_cast<std::uint64_t>(row.ret))
          << "row " << i << ": " << row.ret;
      ASSERT_EQ(table->weights[i], row.weight);
    }
    EXPECT_TRUE(checkTableHolds(*table, rows, "dist.csv").ok());
    // The check itself sees a change in the last bit of a return.
    rows[500].ret = std::nextafter(rows[500].ret, 1.0);
    EXPECT_EQ(checkTableHolds(*table, rows, "dist.csv").message(),
              "dist.csv: row 501 reads back differently");
  }
}

TEST(QuantileTargets, AverageTheDataOverEqualSlicesAndKeepItsMoments) {
  std::mt19937_64 random(11);
  std::normal_distribution<double> normal(0.0, 0.001);
  const auto draw = [&](std::size_t n) {
    std::vector<double> values(n);
    for (double& v : values) v = normal(random);
    return sorted(values);
  };
  // 4096 returns: each holds exactly 8 slices.
  const std::vector<double> eighth = draw(4096);
  const SampleMoments m8 = sampleMoments(eighth);
  const std::vector<double> t8 = quantileTargets(eighth, m8.mean, m8.standardDeviation);
  for (std::size_t j = 0; j < t8.size(); ++j) ASSERT_EQ(t8[j], eighth[j / 8]) << j;
  // 65536 returns: each slice is the mean of two neighbours.
  const std::vector<double> pairs = draw(65536);
  const SampleMoments m2 = sampleMoments(pairs);
  const std::vector<double> t2 = quantileTargets(pairs, m2.mean, m2.standardDeviation);
  for (std::size_t j = 0; j < t2.size(); ++j) {
    ASSERT_DOUBLE_EQ(t2[j], (pairs[2 * j] + pairs[2 * j + 1]) / 2) << j;
  }
  // Any count: rising, within the data, the same mean; the standard deviation given back
  // where slices that mix an extreme return with ordinary ones lose much of it.
  for (const ReturnSample& sample : returnSamples(5413, 3)) {
    const std::vector<double> data = sorted(sample.returns);
    const SampleMoments m = sampleMoments(data);
    const std::vector<double> t = quantileTargets(data, m.mean, m.standardDeviation);
    ASSERT_EQ(t.size(), static_cast<std::size_t>(kGeneratorOutputs));
    EXPECT_TRUE(std::is_sorted(t.begin(), t.end())) << sample.name;
    const SampleMoments tm = sampleMoments(t);
    EXPECT_NEAR(tm.mean, m.mean, 1e-12 * m.standardDeviation) << sample.name;
    EXPECT_NEAR(tm.standardDeviation, m.standardDeviation,
                kSpreadLossLimit * m.standardDeviation) << sample.name;
    if (sample.name == "extreme") {
      EXPECT_NEAR(tm.standardDeviation, m.standardDeviation, 1e-12 * m.standardDeviation);
    } else {
      EXPECT_GE(t.front(), data.front()) << sample.name;
      EXPECT_LE(t.back(), data.back()) << sample.name;
    }
  }
}

TEST(TableLayout, OutputsBelowTheLastDrawTheirOwnNumber) {
  // The layout of every table rests on this: output r draws r, and the last output the total.
  for (int r = 0; r + 1 < kGeneratorOutputs; ++r) {
    ASSERT_EQ(drawFromOutput(r, 0, kTableTotalWeight), r);
  }
  EXPECT_EQ(drawFromOutput(kGeneratorOutputs - 1, 0, kTableTotalWeight), kTableTotalWeight);
}

// The shape every table has: weights of at least 1 that add up to the total, rising returns,
// and a last row of weight 0 with a return from the middle of the targets (or, for 2 rows, a
// straight line).
void expectShape(const std::vector<DistRow>& rows, const std::vector<double>& targets,
                 const std::string& label) {
  ASSERT_GE(rows.size(), 2u) << label;
  const bool centralRow = rows.back().weight == 0;
  std::int64_t total = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i + 1 < rows.size() || !centralRow) {
      ASSERT_GE(rows[i].weight, 1) << label << " row " << i;
    }
    if (i >= 1 && i + 1 < rows.size()) {
      ASSERT_GE(rows[i].ret, rows[i - 1].ret) << label;
    }
    total += rows[i].weight;
  }
  EXPECT_EQ(rows.front().weight, 1) << label;
  EXPECT_EQ(total, kTableTotalWeight) << label;
  if (centralRow) {
    // The two outputs that miss the knots draw a return from the middle of the targets.
    const double central = rows.back().ret;
    EXPECT_GE(central, targets[targets.size() / 2 - 70]) << label;
    EXPECT_LE(central, targets[targets.size() / 2 + 70]) << label;
  }
}

// Every output from 1 to 32766 within `tolerance` of its target (the central pair of targets is
// taken out, so output r follows target r - 1 or r + 1).
void expectWithinTube(const std::vector<DistRow>& rows, const std::vector<double>& targets,
                      double tolerance, const std::string& label) {
  const std::vector<double> draws = drawsOf(*loadedTable(rows));
  const double slack = tolerance * (1 + 1e-9) + 1e-15;
  for (std::size_t r = 1; r + 1 < draws.size(); ++r) {
    const double miss = std::min(std::fabs(draws[r] - targets[r - 1]),
                                 std::fabs(draws[r] - targets[r + 1]));
    ASSERT_LE(miss, slack) << label << ": output " << r;
  }
}

TEST(FitTable, FollowsTheTargetsWithFewRowsAndMeetsTheBounds) {
  for (const ReturnSample& sample : returnSamples(5400, 5)) {
    const std::vector<double> data = sorted(sample.returns);
    const SampleMoments m = sampleMoments(data);
    const std::vector<double> targets = quantileTargets(data, m.mean, m.standardDeviation);
    const double tolerance = 0.001 * m.standardDeviation;
    const TableFit fit = fitTable(targets, tolerance, kTableCapacity);
    EXPECT_EQ(fit.tolerance, tolerance) << sample.name;
    expectShape(fit.rows, targets, sample.name);
    expectWithinTube(fit.rows, targets, tolerance, sample.name);

    const std::vector<double> draws = drawsOf(*loadedTable(fit.rows));
    const SampleMoments drawn = sampleMoments(draws);
    EXPECT_LE(std::fabs(drawn.mean - m.mean), 0.01 * m.standardDeviation) << sample.name;
    EXPECT_NEAR(drawn.standardDeviation / m.standardDeviation, 1.0, 0.01) << sample.name;
    if (sample.name == "ticks") {
      // Five values: a flat run for each, a slice that mixes two neighbours at each step
      // between them, and the central row.
      EXPECT_LE(fit.rows.size(), 5u * 3 + 1);
      const std::set<double> values(data.begin(), data.end());
      for (const double value : values) {
        const auto inData = std::count(data.begin(), data.end(), value);
        const auto inDraws = std::count(draws.begin(), draws.end(), value);
        EXPECT_NEAR(static_cast<double>(inDraws) / kGeneratorOutputs,
                    static_cast<double>(inData) / static_cast<double>(data.size()),
                    3.0 / kGeneratorOutputs) << value;
      }
    } else {
      EXPECT_GE(fit.rows.size(), 100u) << sample.name;
    }
  }
}

TEST(FitTable, UnderARowLimitKeepsTheMeanAndAsMuchSpreadAsTheRowsAllow) {
  const ReturnSample sample = returnSamples(5400, 9)[1];
  const std::vector<double> data = sorted(sample.returns);
  const SampleMoments m = sampleMoments(data);
  const std::vector<double> targets = quantileTargets(data, m.mean, m.standardDeviation);
  const double tolerance = 0.001 * m.standardDeviation;
  double wider = tolerance;
  double spreadMiss = 0.0;
  for (const int maxRows : {400, 60, 20, 10, 3, 2}) {
    const TableFit fit = fitTable(targets, tolerance, maxRows);
    const std::string label = std::to_string(maxRows) + " rows";
    EXPECT_LE(fit.rows.size(), static_cast<std::size_t>(maxRows)) << label;
    expectShape(fit.rows, targets, label);
    // Fewer rows need a wider tube and lose more of the spread, never the mean.
    EXPECT_GE(fit.tolerance, wider) << label;
    wider = fit.tolerance;
    const SampleMoments drawn = sampleMoments(drawsOf(*loadedTable(fit.rows)));
    EXPECT_NEAR(drawn.mean, m.mean, 1e-12 * m.standardDeviation) << label;
    const double miss = std::fabs(drawn.standardDeviation / m.standardDeviation - 1.0);
    EXPECT_GE(miss, spreadMiss * 0.999) << label;
    spreadMiss = miss;
    if (maxRows >= 20) {
      EXPECT_LT(miss, 0.01) << label;
    }
    if (maxRows == 2) {
      EXPECT_EQ(fit.rows.back().weight, kTableTotalWeight - 1);
    }
  }
}

}  // namespace
