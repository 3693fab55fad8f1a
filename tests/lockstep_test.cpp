// The lockstep trajectory loop against the one-at-a-time loop: for every lockstep path this
// processor can run, whole outcomes must agree bit for bit (every sum, the bytes of the
// terminal rows, the generator state left behind). Also the generator's jump-ahead.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/table/draw_table.h"
#include "engine/simulation/lockstep_simulation.h"
#include "engine/simulation/path_simulation.h"
#include "engine/table/random_generator.h"
#include "engine/table/random_jump.h"
#include "engine/table/return_table.h"
#include "tests/support/simulate_lockstep.h"
#include "value_support.h"

using namespace empricer;

// A lockstep kernel: a path at one of its widths.
struct Kernel {
  KernelKind kind;
  int lanes;
};

// Test names and failure messages name the kernel.
void PrintTo(const Kernel& kernel, std::ostream* os) {
  *os << kernelName(kernel.kind) << 'x' << kernel.lanes;
}

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

std::uint32_t stepState(std::uint32_t state, std::uint64_t n) {
  for (std::uint64_t i = 0; i < n; ++i) state = advanceRandomState(state);
  return state;
}

// ---------------------------------------------------------------------------------------------
// Jump-ahead

TEST(RandomJumpTest, MatchesSteppingDrawByDraw) {
  std::mt19937_64 rng(7);
  std::vector<std::uint64_t> counts = {0, 1, 2, 3, 269, 270, 271, 540, 4320, 65536, 65537};
  for (int i = 0; i < 20; ++i) counts.push_back(rng() % 300000);
  for (std::uint32_t start : {0u, 1u, 0xFFFFFFFFu, 123456789u}) {
    for (std::uint64_t n : counts) {
      EXPECT_EQ(applyJump(randomJump(n), start), stepState(start, n))
          << "start " << start << " n " << n;
    }
  }
}

TEST(RandomJumpTest, FromStateOneGivesTheGeneratorsFirstOutputs) {
  EXPECT_EQ(randomOutput(applyJump(randomJump(1), 1u)), 41);
  EXPECT_EQ(randomOutput(applyJump(randomJump(2), 1u)), 18467);
  EXPECT_EQ(randomOutput(applyJump(randomJump(3), 1u)), 6334);
}

TEST(RandomJumpTest, ComposingJumpsAddsTheirCounts) {
  std::mt19937_64 rng(11);
  for (int i = 0; i < 50; ++i) {
    const std::uint64_t a = rng() % 1000000;
    const std::uint64_t b = rng() % 1000000;
    const std::uint32_t s = static_cast<std::uint32_t>(rng());
    const std::uint32_t expected = applyJump(randomJump(a + b), s);
    EXPECT_EQ(applyJump(composeJumps(randomJump(a), randomJump(b)), s), expected);
    EXPECT_EQ(applyJump(randomJump(b), applyJump(randomJump(a), s)), expected);
  }
}

// Step counts past 2^32 (trajectories x 270 x days can exceed it) are taken modulo 2^32; that
// is right only because the generator's period is exactly 2^32.
TEST(RandomJumpTest, PeriodIsTwoToThe32) {
  const RandomJump half = randomJump(std::uint64_t{1} << 31);
  const RandomJump full = composeJumps(half, half);
  EXPECT_EQ(full.multiplier, 1u);
  EXPECT_EQ(full.increment, 0u);
  EXPECT_NE(applyJump(half, 5u), 5u);
  EXPECT_EQ(applyJump(randomJump((std::uint64_t{3} << 32) + 5), 77u), stepState(77u, 5));
}

// ---------------------------------------------------------------------------------------------
// Lockstep against one-at-a-time

struct SimulationOutcome {
  PayoffSums sums;
  std::string rows;
  std::uint32_t state;
};

std::string readAll(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  return text;
}

template <typename Simulate>
SimulationOutcome runFrom(SimulationSetup setup, bool withRows, std::uint32_t startState,
                          Simulate simulate) {
  SimulationOutcome outcome{};
  std::FILE* rows = withRows ? std::tmpfile() : nullptr;
  if (withRows) {
    EXPECT_NE(rows, nullptr);
  }
  setup.terminalRows = rows;
  RandomGenerator generator{startState};
  RowPricer sums(setup.strike);
  simulate(setup, sums, generator);
  outcome.sums = sums.sums();
  outcome.state = generator.state;
  if (rows != nullptr) {
    outcome.rows = readAll(rows);
    std::fclose(rows);
  }
  return outcome;
}

std::string describe(const SimulationSetup& s) {
  std::ostringstream text;
  text.precision(17);
  text << "trajectories " << s.trajectories << ", days " << s.days << " of " << s.stepsPerDay
       << " steps, growth " << s.growth
       << ", strike " << s.strike << ", starts";
  for (double v : s.start) text << ' ' << v;
  return text.str();
}

void expectSameAsOneByOne(const SimulationSetup& setup, bool withRows, std::uint32_t startState,
                          Kernel kernel, const std::string& what) {
  SCOPED_TRACE(what + " | " + describe(setup) + (withRows ? ", rows on" : ", rows off") +
               ", start state " + std::to_string(startState));
  const SimulationOutcome expected = runFrom(setup, withRows, startState, simulateOneByOne);
  const SimulationOutcome actual = runFrom(
      setup, withRows, startState,
      [kernel](const SimulationSetup& s, RowPricer& sums,
               RandomGenerator& generator) {
        simulateLockstep(s, sums, generator, kernel.kind, kernel.lanes);
      });
  EXPECT_EQ(std::memcmp(&expected.sums, &actual.sums, sizeof(PayoffSums)), 0)
      << "sums differ: call[2] " << expected.sums.call[kBasePath] << " vs "
      << actual.sums.call[kBasePath] << ", sumSquares " << expected.sums.sumSquares << " vs "
      << actual.sums.sumSquares;
  EXPECT_EQ(expected.rows, actual.rows);
  EXPECT_EQ(expected.state, actual.state);
}

struct TableRows {
  std::vector<double> returns;
  std::vector<double> weights;
};

// The per-draw table a valuation builds for these rows.
std::unique_ptr<DrawTable> drawTableOf(const TableRows& rows) {
  const auto table = returnTableOf(rows.returns, rows.weights);
  auto draws = std::make_unique<DrawTable>();
  buildDrawTable(*table, static_cast<std::int32_t>(table->totalWeight), *draws);
  return draws;
}

TableRows bellRows(int n, double spread) {
  TableRows rows;
  for (int i = 0; i < n; ++i) {
    const double x = n == 1 ? 0.0 : -1.0 + 2.0 * i / (n - 1);
    rows.returns.push_back(spread * x);
    rows.weights.push_back(std::floor(100.0 * std::exp(-4.5 * x * x)) + 1.0);
  }
  return rows;
}

// Tables with the sampler's odd cases and returns wide enough to drive paths into the band.
TableRows randomRows(std::mt19937_64& rng) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const int kind = static_cast<int>(rng() % 9);
  const int n = kind == 0 ? 1 : 2 + static_cast<int>(rng() % 60);
  const double spread = std::vector<double>{0.004, 0.03, 0.08, 0.5}[rng() % 4];
  TableRows rows;
  for (int i = 0; i < n; ++i) {
    rows.returns.push_back(spread * (2.0 * unit(rng) - 1.0));
    rows.weights.push_back(static_cast<double>(1 + rng() % 40));
  }
  switch (kind) {
    case 1:  // first weight 0
      rows.weights[0] = 0.0;
      break;
    case 2:  // zero weights in the middle
      for (int i = 1; i < n; ++i) {
        if (rng() % 3 == 0) rows.weights[i] = 0.0;
      }
      break;
    case 3:  // negative weights: running sums that fall
      for (int i = 0; i < n; ++i) {
        if (rng() % 4 == 0) rows.weights[i] = -static_cast<double>(rng() % 30);
      }
      break;
    case 4:  // total weight below 1: every draw is 0
      for (double& w : rows.weights) w = 0.9 / n;
      break;
    case 5:  // fractional weights
      for (double& w : rows.weights) w = 5.0 * unit(rng);
      break;
    case 6:  // returns sorted, as a user's table would be
      std::sort(rows.returns.begin(), rows.returns.end());
      break;
    case 7:  // extreme returns: prices through zero, infinities and NaNs from the lookup
      rows.returns[rng() % n] = -3.0;
      rows.returns[rng() % n] = 1e308;
      rows.returns[rng() % n] = -1e308;
      rows.returns[rng() % n] = kInf;
      break;
    default:
      break;
  }
  return rows;
}

double pick(std::mt19937_64& rng, const std::vector<double>& values) {
  return values[rng() % values.size()];
}

class KernelKindTest : public ::testing::TestWithParam<Kernel> {
 protected:
  void SetUp() override {
    if (!kernelAvailable(GetParam().kind)) {
      GTEST_SKIP() << kernelName(GetParam().kind) << " is not available on this processor";
    }
  }
  int lanes() const { return GetParam().lanes; }
};

SimulationSetup plainSetup(const DrawTable& draws) {
  SimulationSetup setup{};
  const double shift[kPathCount] = {1.02, 0.98, 1.0, 1.01, 0.99};
  for (int p = 0; p < kPathCount; ++p) setup.start[p] = 100.0 * shift[p];
  setup.strike = 100.0;
  setup.growth = 0.05 * (1.0 / 270.0 / 365.0) * 0.01 + 1.0;
  setup.days = 2;
  setup.trajectories = 10;
  setup.draws = &draws;
  return setup;
}

TEST_P(KernelKindTest, TrajectoryCountsAroundTheLaneWidth) {
  const auto draws = drawTableOf(bellRows(41, 0.02));
  const int l = lanes();
  const std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
  for (std::int32_t trajectories :
       {0, 1, 2, -1, -1000, lowest, l - 1, l, l + 1, 2 * l + 3, 3 * l - 1}) {
    for (std::int32_t days : {1, 2, 3}) {
      SimulationSetup setup = plainSetup(*draws);
      setup.trajectories = trajectories;
      setup.days = days;
      expectSameAsOneByOne(setup, true, 0xDEADBEEFu, GetParam(), "lane-width counts");
    }
  }
}

TEST_P(KernelKindTest, DaysBelowOneTakeNoDraws) {
  const auto draws = drawTableOf(bellRows(41, 0.004));
  for (std::int32_t days : {0, -1, -270, std::numeric_limits<std::int32_t>::min()}) {
    SimulationSetup setup = plainSetup(*draws);
    setup.days = days;
    setup.trajectories = lanes() + 3;
    expectSameAsOneByOne(setup, true, 99u, GetParam(), "days below one");
    RowPricer sums(setup.strike);
    RandomGenerator generator{99u};
    simulateLockstep(setup, sums, generator, GetParam().kind, GetParam().lanes);
    EXPECT_EQ(generator.state, 99u);
    EXPECT_EQ(sums.sums().sumPrices, 100.0 * setup.trajectories);  // every trajectory ends at its start
  }
}

// One row of return 0, no rate and shift factors of 1.0: every path of every trajectory ends
// exactly at the strike, which adds 0.0 to the put sums and nothing to the call sums.
TEST_P(KernelKindTest, PricesThatEndExactlyAtTheStrike) {
  const auto draws = drawTableOf({{0.0}, {1.0}});
  SimulationSetup setup = plainSetup(*draws);
  for (double& s : setup.start) s = 100.0;
  setup.growth = 0.0 * (1.0 / 270.0) * 0.01 + 1.0;
  setup.trajectories = 2 * lanes() + 1;
  setup.days = 3;
  expectSameAsOneByOne(setup, true, 5u, GetParam(), "prices at the strike");

  RowPricer accumulator(setup.strike);
  RandomGenerator generator;
  simulateLockstep(setup, accumulator, generator, GetParam().kind, GetParam().lanes);
  const PayoffSums& sums = accumulator.sums();
  for (int p = 0; p < kPathCount; ++p) {
    EXPECT_EQ(sums.call[p], 0.0);
    EXPECT_EQ(sums.put[p], 0.0);
    EXPECT_FALSE(std::signbit(sums.put[p]));
    EXPECT_EQ(sums.dayBeforePut[p], 0.0);
  }
  EXPECT_EQ(sums.sumPrices, 100.0 * setup.trajectories);
}

// A one-row table whose return pushes every path through the top of the band each day, and
// one that pulls it through the bottom: the caps fire on most steps. With the small returns,
// the paths drift into the band late in each day, after long stretches whose band tests the
// wide kernels leave out.
TEST_P(KernelKindTest, BandCapsEveryDay) {
  for (double r : {0.01, -0.01, 0.07, -0.0654205607476635, 0.0003, -0.0003}) {
    const auto draws = drawTableOf({{r}, {3.0}});
    SimulationSetup setup = plainSetup(*draws);
    setup.trajectories = lanes() + 2;
    setup.days = 4;
    expectSameAsOneByOne(setup, true, 1234u, GetParam(), "band caps, return " + std::to_string(r));
  }
}

TEST_P(KernelKindTest, OddStartsAndGrowth) {
  std::mt19937_64 rng(3);
  const auto draws = drawTableOf(bellRows(101, 0.05));
  const std::vector<double> spots = {100.0, 0.0, -0.0, -50.0, 1e-310, 1e300, kInf};
  const std::vector<double> shifts = {1.0, -1.0, 0.5, 1e6, 1e308, 0.98, 0.0};
  const double stepFraction = (1.0 / 270.0) / 365.0;
  const std::vector<double> growths = {
      0.0 * stepFraction * 0.01 + 1.0,   -0.05 * stepFraction * 0.01 + 1.0,
      -300.0 * stepFraction * 0.01 + 1.0, 5000.0 * stepFraction * 0.01 + 1.0,
      0.05 * kInf * 0.01 + 1.0,           0.0 * kInf * 0.01 + 1.0 /* NaN */};
  for (double spot : spots) {
    for (double growth : growths) {
      SimulationSetup setup = plainSetup(*draws);
      setup.start[kBasePath] = spot;
      for (int k = 0; k < 4; ++k) setup.start[kShiftedPathIndex[k]] = spot * pick(rng, shifts);
      setup.growth = growth;
      setup.strike = pick(rng, {spot, 100.0, 0.0, -10.0});
      setup.trajectories = 1 + static_cast<std::int32_t>(rng() % (2 * lanes()));
      setup.days = 1 + static_cast<std::int32_t>(rng() % 3);
      expectSameAsOneByOne(setup, rng() % 2 == 0, static_cast<std::uint32_t>(rng()), GetParam(),
                           "odd starts and growth");
    }
  }
}

TEST_P(KernelKindTest, RandomSetups) {
  std::mt19937_64 rng(20240601);
  // The steps of a day from a generator of their own, so the other choices stay as they were.
  std::mt19937_64 dayRng(270);
  const double stepFraction = (1.0 / 270.0) / 365.0;
  for (int i = 0; i < 150; ++i) {
    const TableRows rows = randomRows(rng);
    const auto draws = drawTableOf(rows);
    SimulationSetup setup{};
    const double spot = pick(rng, {100.0, 80.0, 1.0, 0.0, -20.0, 1e200});
    setup.start[kBasePath] = spot;
    for (int k = 0; k < 4; ++k) {
      setup.start[kShiftedPathIndex[k]] = spot * pick(rng, {1.0, 1.02, 0.98, -1.0, 0.0, 1e100});
    }
    setup.strike = pick(rng, {spot, spot * 1.05, spot * 0.95, 0.0});
    const double rate = pick(rng, {0.0, 0.05, -0.05, -2.0, 40.0});
    setup.growth = rate * stepFraction * 0.01 + 1.0;
    setup.days = static_cast<std::int32_t>(rng() % 7) - 1;  // -1 .. 5
    setup.trajectories = static_cast<std::int32_t>(rng() % 45) - 2;  // -2 .. 42
    setup.stepsPerDay = static_cast<std::int32_t>(pick(dayRng, {270.0, 270.0, 1.0, 2.0, 13.0,
                                                                 390.0, 1000.0}));
    setup.draws = draws.get();
    expectSameAsOneByOne(setup, rng() % 3 != 0, static_cast<std::uint32_t>(rng()), GetParam(),
                         "random setup " + std::to_string(i));
  }
}

// Two valuations in a row: the second starts where the first left the generator.
TEST_P(KernelKindTest, ConsecutiveRunsDrawOnFromTheSameState) {
  const auto draws = drawTableOf(bellRows(41, 0.01));
  SimulationSetup first = plainSetup(*draws);
  first.trajectories = lanes() + 5;
  first.days = 2;
  SimulationSetup second = plainSetup(*draws);
  second.trajectories = 3;
  second.days = 5;

  RandomGenerator expected{42u};
  RowPricer expectedFirst(first.strike), expectedSecond(second.strike);
  simulateOneByOne(first, expectedFirst, expected);
  simulateOneByOne(second, expectedSecond, expected);

  RandomGenerator actual{42u};
  RowPricer actualFirst(first.strike), actualSecond(second.strike);
  simulateLockstep(first, actualFirst, actual, GetParam().kind, GetParam().lanes);
  simulateLockstep(second, actualSecond, actual, GetParam().kind, GetParam().lanes);
  EXPECT_EQ(std::memcmp(&expectedFirst.sums(), &actualFirst.sums(), sizeof(PayoffSums)), 0);
  EXPECT_EQ(std::memcmp(&expectedSecond.sums(), &actualSecond.sums(), sizeof(PayoffSums)),
            0);
  EXPECT_EQ(actual.state, expected.state);
}

INSTANTIATE_TEST_SUITE_P(Kernels, KernelKindTest,
                         ::testing::Values(Kernel{KernelKind::Scalar, 4},
                                           Kernel{KernelKind::Avx2, 8},
                                           Kernel{KernelKind::Avx2, 16},
                                           Kernel{KernelKind::Avx2, 32},
                                           Kernel{KernelKind::Avx512, 16},
                                           Kernel{KernelKind::Avx512, 32}),
                         [](const ::testing::TestParamInfo<Kernel>& kernel) {
                           return std::string(kernelName(kernel.param.kind)) + "x" +
                                  std::to_string(kernel.param.lanes);
                         });

// The kernels above are every one the program has.
TEST(LockstepTest, EveryWidthIsTested) {
  EXPECT_EQ(kernelLaneChoices(KernelKind::Scalar), std::vector<int>({4}));
  if (kernelAvailable(KernelKind::Avx2)) {
    EXPECT_EQ(kernelLaneChoices(KernelKind::Avx2), std::vector<int>({8, 16, 32}));
  }
  if (kernelAvailable(KernelKind::Avx512)) {
    EXPECT_EQ(kernelLaneChoices(KernelKind::Avx512), std::vector<int>({16, 32}));
  }
}

TEST(LockstepTest, DefaultPathIsTheWidestAvailable) {
  const KernelKind best = bestKernel();
  EXPECT_TRUE(kernelAvailable(best));
  for (KernelKind path : {KernelKind::Avx2, KernelKind::Avx512}) {
    if (kernelAvailable(path)) {
      EXPECT_GE(kernelLaneCount(best), kernelLaneCount(path));
    }
  }
  const auto draws = drawTableOf(bellRows(41, 0.02));
  SimulationSetup setup = plainSetup(*draws);
  setup.trajectories = 37;
  const SimulationOutcome expected = runFrom(setup, true, 8u, simulateOneByOne);
  auto defaultPath = [](const SimulationSetup& s, RowPricer& sums,
                        RandomGenerator& generator) {
    simulateLockstep(s, sums, generator);  // no kernel named: the widest available
  };
  const SimulationOutcome actual = runFrom(setup, true, 8u, defaultPath);
  EXPECT_EQ(std::memcmp(&expected.sums, &actual.sums, sizeof(PayoffSums)), 0);
  EXPECT_EQ(expected.rows, actual.rows);
  EXPECT_EQ(expected.state, actual.state);
}

}  // namespace
