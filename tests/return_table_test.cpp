// The distribution file, the uniform draw and the lookup of a return for a draw.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/table/return_table.h"
#include "engine/table/random_generator.h"
#include "run_support.h"
#include "value_support.h"

using namespace empricer;

namespace {

TEST(SampleReturn, InterpolatesBetweenCumulativeWeights) {
  // Weights 5, 5, 5: cumulative 5, 10, 15.
  const auto t = returnTableOf({-0.01, 0.02, 0.05}, {5, 5, 5});
  EXPECT_EQ(t->totalWeight, 15.0);
  // 7 lies 2/5 of the way from 5 to 10.
  EXPECT_EQ(sampleReturn(*t, 7), -0.01 + (0.02 - -0.01) / 5.0 * 2.0);
  EXPECT_NEAR(sampleReturn(*t, 7), -0.01 + 0.4 * 0.03, 1e-15);
  EXPECT_EQ(sampleReturn(*t, 10), 0.02);
  EXPECT_EQ(sampleReturn(*t, 5), -0.01);
  // Below the first cumulative weight and at the total: the last row's return.
  for (int u : {0, 1, 2, 3, 4, 15, 16}) EXPECT_EQ(sampleReturn(*t, u), 0.05) << u;
}

TEST(SampleReturn, ZeroWeightRowReturnsThePreviousRow) {
  // Cumulative 5, 5, 10: draws from 5 to 9 fall in the interval that starts at row 1.
  const auto t = returnTableOf({-0.01, 0.02, 0.05}, {5, 0, 5});
  for (int u = 5; u < 10; ++u) EXPECT_EQ(sampleReturn(*t, u), -0.01) << u;
}

TEST(SampleReturn, FirstRowOfZeroWeightMakesItTheLastIndex) {
  const auto t = returnTableOf({-0.002, -0.001, 0.0}, {0, 30, 60});
  EXPECT_EQ(tableLastIndex(t->cumulative), 0);
  EXPECT_EQ(sampleReturn(*t, 0), -0.002);
  EXPECT_EQ(sampleReturn(*t, 15), -0.002 + (-0.001 - -0.002) / 30.0 * 15.0);
  // Every draw that the first interval does not hold gives the first row's return.
  EXPECT_EQ(sampleReturn(*t, 30), -0.002);
  EXPECT_EQ(sampleReturn(*t, 89), -0.002);
}

TEST(TableLastIndex, FindsTheFirstZeroFromIndexOne) {
  auto t = std::make_unique<ReturnTable>();
  *t = ReturnTable{};
  for (int i = 0; i < kTableCapacity; ++i) t->cumulative[i] = i + 1.0;
  EXPECT_EQ(tableLastIndex(t->cumulative), kTableCapacity - 1);
  t->cumulative[7] = 0.0;
  EXPECT_EQ(tableLastIndex(t->cumulative), 6);
  t->cumulative[0] = 0.0;
  EXPECT_EQ(tableLastIndex(t->cumulative), 0);
}

TEST(UniformDraw, ScalesTheGeneratorOutput) {
  RandomGenerator generator;  // the first outputs from state 1 are 41, 18467, 6334
  EXPECT_EQ(uniformDraw(generator, 0, 15), 0);   // 41 / 32767 * 15 < 1
  EXPECT_EQ(uniformDraw(generator, 0, 15), 8);   // 18467 / 32767 * 15 = 8.45...
  EXPECT_EQ(uniformDraw(generator, 0, 15), 2);   // 6334 / 32767 * 15 = 2.89...
  EXPECT_EQ(drawFromOutput(32767, 0, 15), 15);
  EXPECT_EQ(drawFromOutput(32766, 0, 15), 14);
  EXPECT_EQ(drawFromOutput(0, 0, 0), 0);
  // A total weight below 1 truncates to 0, so every draw is 0.
  for (int r : {0, 1000, 32767}) EXPECT_EQ(drawFromOutput(r, 0, 0), 0);
  // Extreme ranges stay defined.
  EXPECT_EQ(drawFromOutput(32767, INT32_MIN, INT32_MAX), INT32_MAX);
  EXPECT_EQ(drawFromOutput(0, INT32_MIN, INT32_MAX), INT32_MIN);
}

// Loads `content` as dist.csv from the working directory, as the program does.
class LoadReturnTable : public ::testing::Test {
 protected:
  Status load(const std::string& content) {
    dir.write("dist.csv", content);
    return loadReturnTable(*table, "dist.csv");
  }
  TempDir dir;
  ScopedWorkingDirectory here{dir};
  std::unique_ptr<ReturnTable> table = std::make_unique<ReturnTable>();
};

TEST_F(LoadReturnTable, ReadsRowsInFileOrder) {
  ASSERT_TRUE(load("-0.004,1\r\n\r\n0.000,2,ignored\r\n\n0.004,3").ok());
  EXPECT_EQ(table->rowCount, 3);
  EXPECT_EQ(table->returns[0], -0.004);
  EXPECT_EQ(table->returns[2], 0.004);
  EXPECT_EQ(table->cumulative[1], 3.0);
  EXPECT_EQ(table->totalWeight, 6.0);
  EXPECT_EQ(table->cumulative[3], 0.0);
  EXPECT_EQ(table->returns[3], 0.0);
}

TEST_F(LoadReturnTable, ZeroByteEndsOnlyTheNumberOfItsField) {
  using namespace std::string_literals;
  ASSERT_TRUE(load("0.001\0,5\n"s).ok());
  EXPECT_EQ(table->returns[0], 0.001);
  EXPECT_EQ(table->weights[0], 5.0);
  EXPECT_EQ(table->totalWeight, 5.0);
}

TEST_F(LoadReturnTable, TakesExactlyFiveThousandRows) {
  std::string text;
  for (int i = 0; i < kTableCapacity; ++i) text += "0.001,1\n";
  ASSERT_TRUE(load(text).ok());
  EXPECT_EQ(table->rowCount, kTableCapacity);
  EXPECT_EQ(table->totalWeight, 5000.0);
  EXPECT_EQ(tableLastIndex(table->cumulative), kTableCapacity - 1);
}

}  // namespace
