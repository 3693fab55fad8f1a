// Chains: the rows of each S0 valued on one set of paths (--chain), against the one-at-a-time
// loop run to the group's longest expiry, against the normal run for groups of one row, and
// for the shape in strike that shared paths give.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "runs/batch_rows.h"
#include "runs/settings.h"
#include "engine/table/draw_table.h"
#include "engine/simulation/path_simulation.h"
#include "engine/table/random_jump.h"
#include "engine/table/return_table.h"
#include "engine/valuation/terminal_text.h"
#include "engine/desk/row_figures.h"
#include "engine/desk/valuation_figures.h"
#include "run_support.h"
#include "value_support.h"

using namespace empricer;

namespace {

const std::string kDistribution = bellDistribution(41, 0.004);

struct ChainCase {
  std::string batch;
  SetupFile setup;
};

void writeInputs(const TempDir& dir, const ChainCase& c) {
  dir.write("Setup.txt", setupText(c.setup));
  dir.write("dist.csv", kDistribution);
  dir.write("batch.csv", c.batch);
}

// The rows (S0, K, days) of the case's batch file, in order.
std::vector<ValuationRequest> requestsOf(const ChainCase& c) {
  std::vector<ValuationRequest> rows;
  const std::vector<std::string> lines = splitLines(c.batch);
  for (const std::string& line : std::vector<std::string>(lines.begin() + 1, lines.end())) {
    if (line.empty()) continue;
    double s = 0, k = 0, d = 0;
    EXPECT_EQ(std::sscanf(line.c_str(), "%lf,%lf,%lf", &s, &k, &d), 3) << line;
    rows.push_back(requestOf(s, k, static_cast<std::int32_t>(d), c.setup.trajectories,
                             std::stod(c.setup.rate), c.setup.probabilities));
  }
  return rows;
}

// What Batch_Result.csv must hold: each group of equal S0 (in the order of its first row)
// simulated one trajectory at a time to its longest days, from where the groups before it left
// the generator, with the prices taken after every day; each row then valued from its own
// day's prices (and the day before's), its probabilities from their six-digit text.
std::string expectedResults(const ChainCase& c, std::uint32_t seed, bool withErrors) {
  ReturnTable table;
  EXPECT_TRUE(loadReturnTable(table, "dist.csv").ok());
  DrawTable draws;
  buildDrawTable(table, static_cast<std::int32_t>(table.totalWeight), draws);
  const std::vector<ValuationRequest> rows = requestsOf(c);
  std::map<double, std::vector<std::size_t>> groupRows;
  std::vector<double> order;  // S0 of each group, in the order of its first row
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (groupRows[rows[r].spot].empty()) order.push_back(rows[r].spot);
    groupRows[rows[r].spot].push_back(r);
  }
  std::vector<ValuationResult> results(rows.size());
  std::vector<StandardErrors> errors(rows.size());
  std::uint32_t state = seed;
  for (double spot : order) {
    const std::vector<std::size_t>& members = groupRows[spot];
    std::int32_t longest = 0;
    for (std::size_t r : members) longest = std::max(longest, rows[r].days);
    std::vector<std::int32_t> everyDay;
    for (std::int32_t d = 0; d <= longest; ++d) everyDay.push_back(d);
    const ValuationRequest& first = rows[members.front()];
    double start[kPathCount];
    for (int p = 0; p < kPathCount; ++p) start[p] = startPriceOfPath(first, p);
    std::vector<std::vector<double>> paths;  // by trajectory: every day's five prices
    for (std::int32_t t = 0; t < c.setup.trajectories; ++t) {
      paths.emplace_back(everyDay.size() * kPathCount);
      simulateTrajectory(start, growthPerStep(first), longest, kDefaultStepsPerDay,
                         draws.returnFor, state,
                         everyDay.data(), static_cast<std::int32_t>(everyDay.size()),
                         paths.back().data());
    }
    for (std::size_t r : members) {
      const std::int32_t d = std::max(rows[r].days, 0);
      RowPricer sums(rows[r].strike, true);
      for (const auto& path : paths) {
        sums.add(&path[static_cast<std::size_t>(d) * kPathCount],
                 d >= 2 ? &path[static_cast<std::size_t>(d - 1) * kPathCount] : nullptr);
      }
      RowExpectations expectations;
      expectations.total = c.setup.trajectories;
      expectations.payoffs = sums.sums();
      expectations.variance = sampleVariance(expectations.payoffs, expectations.total);
      results[r] = formValues(rows[r], expectations, FigureChoice{}).result;
      errors[r] = sums.standardErrors(discountOf(rows[r]));
      if (!c.setup.probabilities) continue;
      for (int p = 0; p < kPathCount; ++p) {
        double above = 0.0, below = 0.0;
        for (const auto& path : paths) {
          const double v = readBackPrice(path[static_cast<std::size_t>(d * kPathCount + p)]);
          above += v > rows[r].strike + callValueOfPath(results[r], p) ? 1.0 : 0.0;
          below += v < rows[r].strike - putValueOfPath(results[r], p) ? 1.0 : 0.0;
        }
        results[r].probCall[p] = 1.0 / c.setup.trajectories * above;
        results[r].probPut[p] = 1.0 / c.setup.trajectories * below;
      }
    }
  }
  std::string text = resultHeader(c.setup.probabilities, withErrors) + "\n";
  for (std::size_t r = 0; r < rows.size(); ++r) {
    text += resultRows(rows[r], results[r], withErrors ? &errors[r] : nullptr);
  }
  return text;
}

// Two groups whose rows come mixed, days 1 to 3, a zero-day row opening a group and one inside
// a group, the probabilities on, against the one-at-a-time reference.
TEST(Chain, EachRowTakesTheSharedPathsAtItsOwnDays) {
  const ChainCase c{"S0,K,Days\n100,95,3\n90,90,2\n100,101,1\n80,80,0\n100,100,0\n90,88,3\n"
                    "80,81,2\n100,102,2\n",
                    {.runMode = "2", .trajectories = 37, .rate = "0.05", .probabilities = true}};
  for (bool withErrors : {false, true}) {
    TempDir dir;
    writeInputs(dir, c);
    std::vector<std::string> args = {"--seed", "4242", "--chain", "--threads", "3"};
    if (withErrors) args.push_back("--std-errors");
    const RunOutcome run = runIn(dir, {.clock = kStillClock, .arguments = args});
    ASSERT_EQ(run.status, 0) << run.err;
    ScopedWorkingDirectory inDir(dir);
    EXPECT_EQ(dir.read("Batch_Result.csv"), expectedResults(c, 4242u, withErrors));
    EXPECT_FALSE(dir.exists("VelmarTemp.txt"));  // a chain writes no temporary file
  }
}

// Rows that each have an S0 of their own give the normal run's bytes: standard output with
// its clock readings, and Batch_Result.csv; for 1 and 3 threads.
TEST(Chain, GroupsOfOneRowGiveTheNormalRun) {
  for (bool probabilities : {false, true}) {
    const ChainCase c{"S0,K,Days\n100,95,3\n90,90,0\n95,95,3e9\n\n80,85,-2\n101,105,2\n"
                      "120,100,1\n",
                      {.runMode = "2", .trajectories = 41, .rate = "0.05",
                       .probabilities = probabilities}};
    TempDir plain;
    writeInputs(plain, c);
    const RunOutcome normal = runIn(plain, {.clock = ReplayClock{1700000000, 7},
                                            .arguments = {"--seed", "99", "--std-errors"}});
    ASSERT_EQ(normal.status, 0) << normal.err;
    for (const char* threads : {"1", "3"}) {
      TempDir dir;
      writeInputs(dir, c);
      const RunOutcome chain =
          runIn(dir, {.clock = ReplayClock{1700000000, 7},
                      .arguments = {"--seed", "99", "--std-errors", "--chain", "--threads",
                                    threads}});
      EXPECT_EQ(chain.status, 0) << chain.err;
      EXPECT_EQ(chain.out, normal.out) << threads;
      EXPECT_EQ(dir.read("Batch_Result.csv"), plain.read("Batch_Result.csv")) << threads;
    }
  }
}

// On one set of paths every path's call falls and is convex in strike, at every expiry, and
// the put rises and is convex; the bytes do not depend on the threads.
TEST(Chain, ValuesAreMonotoneAndConvexInStrike) {
  std::string batch = "S0,K,Days\n";
  for (int d : {1, 4}) {
    for (int k = 90; k <= 110; k += 2) batch += "100," + std::to_string(k) + "," + std::to_string(d) + "\n";
  }
  const ChainCase c{batch, {.runMode = "2", .trajectories = 300, .rate = "0.05"}};
  std::string first;
  for (const char* threads : {"1", "3"}) {
    TempDir dir;
    writeInputs(dir, c);
    const RunOutcome run = runIn(
        dir, {.clock = kStillClock, .arguments = {"--seed", "5", "--chain", "--threads", threads}});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string results = dir.read("Batch_Result.csv");
    if (first.empty()) first = results;
    EXPECT_EQ(results, first) << threads;
  }
  // Lines: header, then five per row in path order; columns S0,K,Call,Put,...
  const std::vector<std::string> lines = splitLines(first);
  for (int expiry = 0; expiry < 2; ++expiry) {
    for (int p = 0; p < kPathCount; ++p) {
      std::vector<double> call, put;
      for (int k = 0; k < 11; ++k) {
        double s0 = 0, strike = 0, cv = 0, pv = 0;
        const std::string& line = lines[static_cast<std::size_t>(1 + (expiry * 11 + k) * 5 + p)];
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%lf,%lf,%lf", &s0, &strike, &cv, &pv), 4);
        call.push_back(cv);
        put.push_back(pv);
      }
      for (std::size_t i = 0; i + 1 < call.size(); ++i) {
        EXPECT_LE(call[i + 1], call[i]) << expiry << " " << p << " " << i;
        EXPECT_GE(put[i + 1], put[i]) << expiry << " " << p << " " << i;
      }
      // Six-digit text rounds each value by up to half a unit in its sixth digit.
      for (std::size_t i = 0; i + 2 < call.size(); ++i) {
        const double slack = 1e-5 * (call[i] + call[i + 1] + call[i + 2]);
        EXPECT_GE(call[i] - 2 * call[i + 1] + call[i + 2], -slack) << expiry << " " << p << " " << i;
        const double putSlack = 1e-5 * (put[i] + put[i + 1] + put[i + 2]);
        EXPECT_GE(put[i] - 2 * put[i + 1] + put[i + 2], -putSlack) << expiry << " " << p << " " << i;
      }
    }
  }
}

}  // namespace
