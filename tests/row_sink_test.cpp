// The outputs of a run's rows as sinks: each sink of a run is told of every row at its turn,
// in row order, and one that fails stops the run.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "runs/batch_file.h"
#include "runs/clock.h"
#include "runs/console_input.h"
#include "runs/progress.h"
#include "runs/row_sink.h"
#include "runs/runs.h"
#include "engine/table/distribution_cache.h"
#include "engine/table/random_generator.h"
#include "engine/simulation/valuation_queue.h"
#include "value_support.h"

using namespace empricer;

namespace {

// What a sink is told, a line each; it wants the desk figures, and fails at row `failAt`.
class RecordingSink final : public RowSink {
 public:
  explicit RecordingSink(std::int64_t failAt = 0) : failAt_(failAt) {}
  void want(FigureChoice& choice) const override { choice.desk = true; }
  Status begin(std::uint64_t mostRepeats) override {
    told.push_back("begin " + std::to_string(mostRepeats));
    return {};
  }
  Status skip(std::int64_t number, const std::string& why) override {
    told.push_back("skip " + std::to_string(number) + ": " + why);
    return {};
  }
  Status row(const ValuedRow& row) override {
    told.push_back("row " + std::to_string(row.number) + " K " +
                   std::to_string(static_cast<int>(row.request.strike)) +
                   (row.figures.desk.forward[kBasePath] > 0.0 ? " with its forward" : ""));
    if (row.number == failAt_) return Failure{"row " + std::to_string(row.number) + " refused"};
    return {};
  }
  std::vector<std::string> told;

 private:
  std::int64_t failAt_;
};

}  // namespace

// Each sink is told of every row at its turn, the skipped ones too; the first that fails stops
// the run with its message, before the sinks after it take the row.
TEST(RowSinks, EverySinkIsToldOfEachRowInRowOrder) {
  RunSettings settings;
  settings.trajectories = 20;
  BatchFile batch = batchOfText("S0,K,Days\n100,95,3\n100,100,3e9\n100,105,2\n", settings);
  std::shared_ptr<const LoadedDistribution> table;
  ASSERT_TRUE(loadDistributionText(bellDistribution(21, 0.01), "dist.csv", table).ok());
  SystemClock clock;
  ConsoleInput console;
  RandomGenerator generator;
  seedRandom(generator, 5);
  DistributionCache distribution;
  distribution.hold(table);
  ValuationQueue queue(1, SimulationChoice{});
  Progress progress(false, 1.0);
  RunContext run{clock, console, generator, queue, distribution, progress, RunConfig{}, 0};
  RecordingSink first;
  RecordingSink failing(3);
  RecordingSink last;
  run.sinks = {&first, &failing, &last};
  EXPECT_EQ(valueRowsOf(batch, run).message(), "row 3 refused");
  const std::vector<std::string> told = {"begin 0", "row 1 K 95 with its forward",
                                         "skip 2: days out of range",
                                         "row 3 K 105 with its forward"};
  EXPECT_EQ(first.told, told);
  EXPECT_EQ(failing.told, told);
  EXPECT_EQ(last.told, std::vector<std::string>(told.begin(), told.end() - 1));
}
