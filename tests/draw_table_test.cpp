// The per-draw table must give, for every generator output, exactly what the row-by-row scan
// gives for the same draw, whatever the weights look like.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <random>

#include "engine/draw_table.h"

namespace {

void finishTable(ReturnTable& t, int rows) {
  t.rowCount = rows;
  for (int i = 0; i < rows; ++i) {
    t.cumulative[i] = i == 0 ? t.weights[i] : t.weights[i] + t.cumulative[i - 1];
  }
  t.totalWeight = t.cumulative[rows - 1];
}

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
  void SetUp() override {
    table = std::make_unique<ReturnTable>();
    std::memset(table.get(), 0, sizeof(ReturnTable));
  }
  std::unique_ptr<ReturnTable> table;
  std::mt19937_64 random{20261208};
};

TEST_F(DrawTableTest, RandomDistributionsOfEverySize) {
  std::uniform_real_distribution<double> ret(-0.01, 0.01);
  for (int rows : {1, 2, 3, 41, 200, 1000, 5000}) {
    for (int round = 0; round < 3; ++round) {
      std::memset(table.get(), 0, sizeof(ReturnTable));
      std::uniform_int_distribution<int> weight(0, round == 0 ? 3 : 400);
      for (int i = 0; i < rows; ++i) {
        table->returns[i] = ret(random);
        table->weights[i] = weight(random);
      }
      if (rows > 2 && round == 2) table->weights[0] = 0.0;  // first row of weight 0
      finishTable(*table, rows);
      expectSameAsScan(*table, "random");
    }
  }
}

TEST_F(DrawTableTest, OddWeights) {
  std::uniform_real_distribution<double> ret(-0.01, 0.01);
  auto fill = [&](std::initializer_list<double> weights) {
    std::memset(table.get(), 0, sizeof(ReturnTable));
    int i = 0;
    for (double w : weights) {
      table->returns[i] = ret(random);
      table->weights[i++] = w;
    }
    finishTable(*table, i);
  };
  fill({0, 5, 5, 5});
  expectSameAsScan(*table, "first weight zero");
  fill({5, 0, 0, 5, 0, 5});
  expectSameAsScan(*table, "zero weights in the middle (tied cumulative weights)");
  fill({5, 10, -7, 4, -20, 30});
  expectSameAsScan(*table, "negative weights");
  fill({5, -10, 2});
  expectSameAsScan(*table, "negative total weight");
  fill({0.25, 0.5});
  expectSameAsScan(*table, "total weight below 1");
  fill({1e-3, 2.5, 0.75, 3.25});
  expectSameAsScan(*table, "fractional weights");
  fill({7});
  expectSameAsScan(*table, "one row");
  fill({5, -5, 5});
  expectSameAsScan(*table, "a cumulative weight of exactly 0 after the first row");
  fill({30000, 1, 1, 40000});
  expectSameAsScan(*table, "more weight than generator outputs");
}

TEST_F(DrawTableTest, RandomSignedWeights) {
  std::uniform_real_distribution<double> ret(-0.01, 0.01);
  std::uniform_int_distribution<int> weight(-50, 100);
  std::uniform_int_distribution<int> size(1, 300);
  for (int round = 0; round < 40; ++round) {
    std::memset(table.get(), 0, sizeof(ReturnTable));
    const int rows = size(random);
    for (int i = 0; i < rows; ++i) {
      table->returns[i] = ret(random);
      table->weights[i] = weight(random);
    }
    finishTable(*table, rows);
    expectSameAsScan(*table, "signed weights");
  }
}

}  // namespace
