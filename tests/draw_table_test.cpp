// The per-draw table must give, for every generator output, exactly what the row-by-row scan
// gives for the same draw, whatever the weights look like.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "engine/table/draw_table.h"
#include "value_support.h"

using namespace empricer;

namespace {

// Compares bit patterns, so that a NaN or a signed zero must also match.
void expectSameAsScan(const ReturnTable& t, const char* label) {
  const double total = t.totalWeight;
  ASSERT_TRUE(std::isfinite(total) && std::fabs(total) < 2147483647.0) << label;
  const auto hi = static_cast<std::int32_t>(total);
  auto draws = std::make_unique<DrawTable>();
  buildDrawTable(t, hi, *draws);
  for (int r = 0; r < kGeneratorOutputs; ++r) {
    const double expected = sampleReturn(t, drawFromOutput(r, 0, hi));
    const double got = draws->returnFor[r];
    if (std::memcmp(&expected, &got, sizeof got) != 0) {
      FAIL() << label << ": output " << r << " draw " << drawFromOutput(r, 0, hi) << " gives "
             << got << ", the scan " << expected;
    }
  }
}

class DrawTableTest : public ::testing::Test {
 protected:
  // A table of `weights` with random returns.
  std::unique_ptr<ReturnTable> withRandomReturns(const std::vector<double>& weights) {
    std::uniform_real_distribution<double> ret(-0.01, 0.01);
    std::vector<double> returns;
    for (std::size_t i = 0; i < weights.size(); ++i) returns.push_back(ret(random));
    return returnTableOf(returns, weights);
  }
  std::mt19937_64 random{20261208};
};

TEST_F(DrawTableTest, RandomDistributionsOfEverySize) {
  for (int rows : {1, 2, 3, 41, 200, 1000, 5000}) {
    for (int round = 0; round < 3; ++round) {
      std::uniform_int_distribution<int> weight(0, round == 0 ? 3 : 400);
      std::vector<double> weights;
      for (int i = 0; i < rows; ++i) weights.push_back(weight(random));
      if (rows > 2 && round == 2) weights[0] = 0.0;  // first row of weight 0
      expectSameAsScan(*withRandomReturns(weights), "random");
    }
  }
}

TEST_F(DrawTableTest, OddWeights) {
  const std::pair<std::vector<double>, const char*> cases[] = {
      {{0, 5, 5, 5}, "first weight zero"},
      {{5, 0, 0, 5, 0, 5}, "zero weights in the middle (tied cumulative weights)"},
      {{5, 10, -7, 4, -20, 30}, "negative weights"},
      {{5, -10, 2}, "negative total weight"},
      {{0.25, 0.5}, "total weight below 1"},
      {{1e-3, 2.5, 0.75, 3.25}, "fractional weights"},
      {{7}, "one row"},
      {{5, -5, 5}, "a cumulative weight of exactly 0 after the first row"},
      {{30000, 1, 1, 40000}, "more weight than generator outputs"},
  };
  for (const auto& [weights, label] : cases) expectSameAsScan(*withRandomReturns(weights), label);
}

TEST_F(DrawTableTest, RandomSignedWeights) {
  std::uniform_int_distribution<int> weight(-50, 100);
  std::uniform_int_distribution<int> size(1, 300);
  for (int round = 0; round < 40; ++round) {
    std::vector<double> weights(static_cast<std::size_t>(size(random)));
    for (double& w : weights) w = weight(random);
    expectSameAsScan(*withRandomReturns(weights), "signed weights");
  }
}

}  // namespace
