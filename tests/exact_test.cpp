// --exact: the lattice's order of convergence, the law's edge cases against figures worked out
// by hand, and the option's runs against each other.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/table/draw_table.h"
#include "engine/exact/exact_law.h"
#include "engine/exact/exact_valuation.h"
#include "engine/exact/step_comb.h"
#include "engine/exact/step_tilt.h"
#include "engine/desk/valuation_figures.h"
#include "runs/smile_plot.h"
#include "picture_support.h"
#include "run_support.h"
#include "value_support.h"

using namespace empricer;

namespace {

std::unique_ptr<DrawTable> drawsOf(const std::vector<double>& returns,
                                   const std::vector<double>& weights) {
  const auto table = returnTableOf(returns, weights);
  auto draws = std::make_unique<DrawTable>();
  buildDrawTable(*table, static_cast<std::int32_t>(table->totalWeight), *draws);
  return draws;
}

// A bell of 201 rows over -0.004 to 0.004: a day's spread of about 2 %, the band binding now
// and then.
std::unique_ptr<DrawTable> bellDraws() {
  std::vector<double> returns;
  std::vector<double> weights;
  for (int i = 0; i <= 200; ++i) {
    const double x = -0.004 + 0.00004 * i;
    returns.push_back(x);
    weights.push_back(std::floor(1000.0 * std::exp(-x * x / (2.0 * 0.0013 * 0.0013))) + 1.0);
  }
  return drawsOf(returns, weights);
}

double callAt(const DrawTable& draws, int intervals, int days, double strike) {
  const TerminalLaw law = terminalLaw(dayLaw(draws, PathKind::base, 0.0, intervals, kDefaultStepsPerDay), days);
  const TailFigures tail = tailAbove(law, std::log(strike / 100.0), false);
  return 100.0 * tail.expectation - strike * tail.probability;
}

RowFigures exactFigures(const DrawTable& draws, const ValuationRequest& request,
                        ExactError& error) {
  ExactModel model(draws, ExactSetup{.growth = growthPerStep(request)});
  FigureChoice choice;
  choice.desk = true;
  return model.value(request, choice, error);
}

// A batch run with --exact --results (rate 0.05) on `dist` and `batch` in a fresh folder: its
// outcome and its results file.
std::pair<RunOutcome, std::string> exactResultsOf(const std::string& dist,
                                                  const std::string& batch) {
  TempDir dir;
  dir.write("Setup.txt", setupText({.runMode = "2", .trajectories = 10, .rate = "0.05"}));
  dir.write("dist.csv", dist);
  dir.write("batch.csv", batch);
  const RunOutcome outcome = runIn(
      dir, {.clock = kStillClock, .arguments = {"--exact", "--quiet", "--results", "r.csv"}});
  return {outcome, dir.exists("r.csv") ? dir.read("r.csv") : std::string()};
}

// A minute bar's table: a bell of 201 rows whose step's standard deviation is 2e-4.
std::unique_ptr<DrawTable> minuteDraws() {
  std::vector<double> returns;
  std::vector<double> weights;
  for (int i = 0; i <= 200; ++i) {
    const double x = -0.0008 + 0.000008 * i;
    returns.push_back(x + 0.000002);
    weights.push_back(std::floor(1000.0 * std::exp(-x * x / (2.0 * 0.0002 * 0.0002))) + 1.0);
  }
  return drawsOf(returns, weights);
}

// On a bell and on a minute table, from the lattice the table chooses: halving the spacing
// takes the extrapolated call at least 4 times nearer the finest (until within 1 % of the
// bound), the row's figures are within their bound of it, and a lattice planted too coarse
// for the table says so (its estimate exceeds the bound and is at least half the error).
TEST(ExactLaw, ConvergesFromTheTablesLatticeAndACoarseOneWarns) {
  const auto bell = bellDraws();
  const auto minute = minuteDraws();
  for (const DrawTable* draws : {bell.get(), minute.get()}) {
    const int first = latticeFor(*draws);
    for (const auto& [days, strike] :
         {std::pair{1, 100.0}, std::pair{5, 99.0}, std::pair{20, 101.5}}) {
      std::vector<double> extrapolated;
      double coarser = 0.0;
      for (int n = first; n <= first * 16; n *= 2) {
        const double call = callAt(*draws, n, days, strike);
        if (n > first) extrapolated.push_back(call + (call - coarser) / 3.0);
        coarser = call;
      }
      const double reference = extrapolated.back();
      const std::string row = std::to_string(first) + " spacings, " + std::to_string(days) +
                              " days, K " + std::to_string(strike);
      for (std::size_t i = 0; i + 2 < extrapolated.size(); ++i) {
        EXPECT_LT(std::fabs(extrapolated[i + 1] - reference),
                  std::fabs(extrapolated[i] - reference) / 4.0 + 1e-7)
            << row << ", halving " << i;
      }
      ExactError error;
      const RowFigures f = exactFigures(*draws, requestOf(100.0, strike, days, 1), error);
      EXPECT_LE(error.worstRatio, 1.0) << row;
      EXPECT_NEAR(f.result.callValue, reference, 1e-7 * 100.0) << row;

      ExactModel coarse(*draws, ExactSetup{.firstIntervals = first / 8, .lastIntervals = first / 8});
      FigureChoice choice;
      ExactError planted;
      const RowFigures g = coarse.value(requestOf(100.0, strike, days, 1), choice, planted);
      const double off = std::fabs(g.result.callValue - reference) / (1e-7 * 100.0);
      if (off > 1.0) {
        EXPECT_GT(planted.worstRatio, 1.0) << row;
        EXPECT_GT(planted.worstRatio, off / 2.0) << row;
      }
    }
  }
  EXPECT_EQ(latticeFor(*bell), 256);
  EXPECT_EQ(latticeFor(*minute), 1024);
}

// A table whose draws are three values spaced like ticks: a day's sum of their steps is a comb
// of point masses, and the lattice's probability of ending above the call's threshold is off
// the comb's own (the multinomial sum of the masses above it) by far more than the bound. The
// row says it is held to no bound, the run says so in one line, and the results file carries
// inf and no vega; a bell's draws are no comb.
TEST(ExactLaw, AStepLawOfAFewValuesIsACombThatNoLatticeResolvesAndTheRowSaysSo) {
  const std::string ticks = "-0.001,1\n-0.001,8000\n0,1\n0,16000\n0.001,1\n0.001,8765\n";
  const std::vector<double> returns = {-0.001, -0.001, 0.0, 0.0, 0.001, 0.001};
  const auto draws = drawsOf(returns, {1, 8000, 1, 16000, 1, 8765});
  const StepLaw steps = stepLaw(*draws, PathKind::base, 0.0);
  ASSERT_EQ(steps.logStep.size(), 3u);
  EXPECT_GT(combStrength(steps), 0.999);
  EXPECT_EQ(combedDays(combStrength(steps), kExactMostDays, kDefaultStepsPerDay), kExactMostDays);
  EXPECT_LT(combStrength(stepLaw(*bellDraws(), PathKind::base, 0.0)), 0.5);
  EXPECT_EQ(combedDays(combStrength(stepLaw(*bellDraws(), PathKind::base, 0.0)), 10000, kDefaultStepsPerDay), 0);

  const ValuationRequest request = requestOf(100.0, 100.2, 1, 1, 0.0, true);
  ExactError error;
  const RowFigures f = exactFigures(*draws, request, error);
  EXPECT_TRUE(std::isinf(error.worstRatio));
  // The comb: n_down, n_up and the rest of 270 steps, each composition's mass.
  const double threshold = 100.2 + f.result.callValue;
  double above = 0.0;
  for (int down = 0; down <= 270; ++down) {
    for (int up = 0; down + up <= 270; ++up) {
      const int flat = 270 - down - up;
      double mass = std::lgamma(271.0) - std::lgamma(down + 1.0) - std::lgamma(up + 1.0) -
                    std::lgamma(flat + 1.0);
      for (std::size_t v = 0; v < 3; ++v) {
        mass += (v == 0 ? down : v == 1 ? flat : up) * std::log(steps.probability[v]);
      }
      const double price = 100.0 * std::exp(down * steps.logStep[0] + flat * steps.logStep[1] +
                                             up * steps.logStep[2]);
      if (price > threshold) above += std::exp(mass);
    }
  }
  EXPECT_GT(std::fabs(f.result.probCall[kBasePath] - above), 100 * kExactUnitBound);

  const auto [outcome, results] = exactResultsOf(ticks, "S0,K,Days\n100,100.2,1\n100,101,21\n");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err,
            "empricer: warning: the exact figures of 2 rows (the first: row 1) are held to no "
            "bound: dist.csv's returns sit on a few values spaced like ticks, the sums of their "
            "steps are point masses that the exact law's lattice smooths, and their "
            "probabilities and deltas may be off by far more than 1e-07 (exact_error inf)\n");
  for (const auto& [key, line] : resultsByLine(results)) {
    EXPECT_EQ(line.at("exact_error"), "inf") << key;
    EXPECT_EQ(line.at("vega"), "") << key;
  }
}

// Where the band is out of a day's reach (a minute table), the day's law by Fourier transform
// is the step-by-step walk's, node for node; where it is not (the bell), the walk is taken.
TEST(ExactLaw, ADayOutOfTheBandsReachIsTheWalkByFourierTransform) {
  const auto minute = minuteDraws();
  const auto bell = bellDraws();
  for (int n : {1024, 4096}) {
    const StepLaw steps = stepLaw(*minute, PathKind::shifted, 1.0000018);
    const DayLaw fast = dayLaw(steps, n, kDefaultStepsPerDay);
    const DayLaw walked = dayLaw(steps, n, kDefaultStepsPerDay, true);
    ASSERT_EQ(fast.mass.size(), walked.mass.size());
    double largest = 0.0;
    for (std::size_t i = 0; i < fast.mass.size(); ++i) {
      largest = std::max(largest, std::fabs(fast.mass[i] - walked.mass[i]));
    }
    EXPECT_LT(largest, 1e-15) << n;
    EXPECT_LT(walked.atomLow + walked.atomHigh, 1e-20);
    const StepLaw bellSteps = stepLaw(*bell, PathKind::base, 0.0);
    const DayLaw bellDay = dayLaw(bellSteps, n, kDefaultStepsPerDay);
    EXPECT_GT(bellDay.atomLow, 0.0) << "the bell's walk reaches the band's ends";
  }
}

// Tables whose every draw is one return make the path certain. A table of one row whose total
// weight is below 1 draws its return at every step: 0.001 a step reaches the band every day, so
// S_T = start x 1.07^days exactly, on every path; three rows of 0.0002 stay inside it, and
// S_T = start x 1.0002^(270 days). Every figure is that price's, probabilities 0 or 1.
TEST(ExactLaw, AOneValuedTableMakesThePathCertain) {
  const auto hits = drawsOf({0.001}, {0.5});
  const auto equal = drawsOf({0.0002, 0.0002, 0.0002}, {1.0, 2.0, 3.0});
  for (const DrawTable* draws : {hits.get(), equal.get()}) {
    const double dayFactor = draws == hits.get() ? 1.07 : std::pow(1.0002, 270.0);
    for (int days : {1, 3}) {
      for (double strike : {104.0, 110.0}) {
        const ValuationRequest request = requestOf(100.0, strike, days, 1, 0.05, true);
        ExactError error;
        const RowFigures f = exactFigures(*draws, request, error);
        const double d = discountOf(request);
        const double d1 = dayBeforeDiscountOf(request);
        EXPECT_EQ(error.worstRatio, 0.0);
        for (int p = 0; p < kPathCount; ++p) {
          const double start = startPriceOfPath(request, p);
          // The shifted paths step by w + g, a hair above 1 + w: the hits table still ends
          // on the band; the other moves by its own factor.
          const double own = draws == hits.get()
                                 ? dayFactor
                                 : std::pow(0.0002 + growthPerStep(request), 270.0);
          const double factor = p == kBasePath ? dayFactor : own;
          const double end = start * std::pow(factor, days);
          const double call = d * std::fmax(end - strike, 0.0);
          const double put = d * std::fmax(strike - end, 0.0);
          const double before = days >= 2 ? d1 * std::fmax(end / factor - strike, 0.0) : 0.0;
          const std::string row = std::to_string(days) + " days, K " + std::to_string(strike) +
                                  ", path " + std::to_string(p);
          EXPECT_NEAR(callValueOfPath(f.result, p), call, 1e-7 * start) << row;
          EXPECT_NEAR(putValueOfPath(f.result, p), put, 1e-7 * start) << row;
          EXPECT_NEAR(f.result.thetaCall[p], call - before, 1e-7 * start) << row;
          EXPECT_NEAR(f.desk.forward[p], end, 1e-7 * start) << row;
          EXPECT_EQ(f.result.probCall[p], end > strike + call ? 1.0 : 0.0) << row;
          EXPECT_EQ(f.result.probPut[p], end < strike - put ? 1.0 : 0.0) << row;
          EXPECT_NEAR(f.desk.deltaCall[p], end > strike ? d * end / start : 0.0, 1e-7) << row;
        }
        EXPECT_EQ(f.result.stdevS, 0.0);
      }
    }
  }
}

// No step (days below 1): the terminal price is the start; a NaN return leaves no law at all.
TEST(ExactLaw, NoStepKeepsTheStartAndANaNReturnGivesNoFigure) {
  const auto draws = bellDraws();
  for (int days : {0, -2}) {
    const ValuationRequest request = requestOf(100.0, 99.5, days, 1, 0.05, true);
    ExactError error;
    const RowFigures f = exactFigures(*draws, request, error);
    const double d = discountOf(request);
    EXPECT_EQ(f.result.callValue, d * 0.5);
    EXPECT_EQ(f.result.putValue, 0.0);
    EXPECT_EQ(f.result.shiftPut[1], d * (99.5 - 98.0));  // shifted path 2 starts at 98
    EXPECT_EQ(f.result.probCall[kBasePath], 0.0);  // 100 is not above 99.5 + 0.5 d
    EXPECT_EQ(f.result.probPut[1], 0.0);  // 98 is not below 99.5 - 1.5 d, d >= 1
    EXPECT_EQ(f.result.stdevS, 0.0);
    EXPECT_EQ(error.worstRatio, 0.0);
  }
  auto broken = bellDraws();
  broken->returnFor[123] = std::numeric_limits<double>::quiet_NaN();
  ExactError error;
  const RowFigures f = exactFigures(*broken, requestOf(100.0, 100.0, 2, 1), error);
  EXPECT_TRUE(std::isnan(f.result.callValue));
  EXPECT_TRUE(std::isnan(f.result.thetaPut[0]));
  EXPECT_TRUE(std::isnan(error.worstRatio));
}

// A figure on a lattice is only near its limit, so a limit that is 0, 1 or the end of a
// no-arbitrage range comes out a little off it. Every figure is reported as a limit can be:
// values and the spread 0 or at least their bound, probabilities and deltas in their ranges and
// either on an end or at least their bound inside, no implied volatility from a value below its
// bound. On narrow and degenerate tables, with strikes near and far.
TEST(ExactLaw, EveryFigureIsOneALimitCanBe) {
  std::vector<double> minuteReturns;
  std::vector<double> minuteWeights;
  for (int i = 0; i <= 200; ++i) {
    const double x = -0.0008 + 0.000008 * i;
    minuteReturns.push_back(x + 0.000002);
    minuteWeights.push_back(std::floor(1000.0 * std::exp(-x * x / (2.0 * 0.0002 * 0.0002))) + 1.0);
  }
  const struct {
    const char* name;
    std::unique_ptr<DrawTable> draws;
  } tables[] = {{"all returns equal", drawsOf({0.0002, 0.0002, 0.0002}, {1.0, 2.0, 3.0})},
                {"one row", drawsOf({-0.0001}, {5.0})},
                {"minute-like", drawsOf(minuteReturns, minuteWeights)},
                {"bell", bellDraws()}};
  MarketQuote quote;
  quote.call = 0.5;
  quote.put = 0.5;
  // Within `bound` of an end of [low, high] only on the end.
  const auto sound = [](double x, double low, double high, double bound) {
    return x == low || x == high || (x >= low + bound && x <= high - bound);
  };
  for (const auto& table : tables) {
    for (const int days : {1, 5, 21, 63}) {
      for (const double strike : {50.0, 96.0, 100.0, 104.0, 160.0}) {
        const ValuationRequest request = requestOf(100.0, strike, days, 1, 0.05, true);
        ExactModel model(*table.draws, ExactSetup{.growth = growthPerStep(request)});
        FigureChoice choice;
        choice.desk = true;
        ExactError error;
        const RowFigures f = model.value(request, choice, error, {}, quote);
        const double d = discountOf(request);
        const double inf = std::numeric_limits<double>::infinity();
        const std::string row = std::string(table.name) + ", " + std::to_string(days) +
                                " days, K " + std::to_string(strike) + ", path ";
        EXPECT_TRUE(sound(f.result.stdevS, 0.0, inf, 1e-5)) << row;
        EXPECT_TRUE(sound(f.profitCall, 0.0, 1.0, 1e-7)) << row << f.profitCall;
        EXPECT_TRUE(sound(f.profitPut, 0.0, 1.0, 1e-7)) << row << f.profitPut;
        for (int p = 0; p < kPathCount; ++p) {
          const double start = startPriceOfPath(request, p);
          const double bound = 1e-7 * start;
          const double call = callValueOfPath(f.result, p);
          const double put = putValueOfPath(f.result, p);
          const double range = d * f.desk.forward[p] / start;
          EXPECT_TRUE(sound(call, 0.0, inf, bound)) << row << p << " call " << call;
          EXPECT_TRUE(sound(put, 0.0, inf, bound)) << row << p << " put " << put;
          EXPECT_TRUE(sound(f.result.probCall[p], 0.0, 1.0, 1e-7)) << row << p;
          EXPECT_TRUE(sound(f.result.probPut[p], 0.0, 1.0, 1e-7)) << row << p;
          EXPECT_TRUE(sound(f.desk.deltaCall[p], 0.0, range, 1e-7))
              << row << p << " delta_call " << f.desk.deltaCall[p] << " of " << range;
          EXPECT_TRUE(sound(f.desk.deltaPut[p], -range, 0.0, 1e-7))
              << row << p << " delta_put " << f.desk.deltaPut[p] << " of " << -range;
          EXPECT_TRUE(f.result.thetaCall[p] == 0.0 || std::fabs(f.result.thetaCall[p]) >= bound);
          EXPECT_TRUE(f.result.thetaPut[p] == 0.0 || std::fabs(f.result.thetaPut[p]) >= bound);
          const double outOfTheMoney = strike >= f.desk.forward[p] ? call : put;
          if (outOfTheMoney < bound) {
            EXPECT_TRUE(std::isnan(f.desk.ivDay[p]) && std::isnan(f.desk.ivYear[p]))
                << row << p << " volatility " << f.desk.ivYear[p] << " from " << outOfTheMoney;
          }
        }
      }
    }
  }
}

// Whole runs: the same bytes with and without --chain and from shards, no temporary file, the
// method said below the settings, and no standard error in the results file.
TEST(ExactRuns, ChainAndShardsGiveTheSameBytesWithoutATemporaryFile) {
  const std::string batch = "S0,K,Days\n100,95,1\n100,100,5\n100,104,5\n90,100,3\n100,100,0\n";
  auto runWith = [&](const std::vector<std::string>& arguments, std::string* results) {
    TempDir dir;
    dir.write("Setup.txt", setupText({.runMode = "2", .trajectories = 10, .rate = "0.05",
                                      .probabilities = true}));
    dir.write("dist.csv", bellDistribution(41, 0.004));
    dir.write("batch.csv", batch);
    std::vector<std::string> args = {"--exact", "--quiet", "--results", "r.csv"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    const RunOutcome outcome = runIn(dir, {.clock = kStillClock, .arguments = args});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_FALSE(dir.exists("VelmarTemp.txt"));
    if (results != nullptr) *results = dir.read("r.csv");
    return outcome.out + dir.read("Batch_Result.csv");
  };
  std::string rowByRow;
  std::string chained;
  const std::string whole = runWith({}, &rowByRow);
  EXPECT_EQ(runWith({"--chain"}, &chained), whole);
  EXPECT_EQ(chained, rowByRow);
  EXPECT_NE(whole.find("Num of Trajectories:  10\nMethod:               exact limits (--exact)\n\n"),
            std::string::npos);
  // A results line: the standard errors (fields 13 and 14) are empty.
  const std::vector<std::string> lines = splitLines(rowByRow);
  ASSERT_EQ(lines.size(), 1u + 5u * 5u);
  EXPECT_NE(lines[3].find(",,"), std::string::npos);
  std::string first;
  std::string rest;
  runWith({"--rows", "1-2"}, &first);
  runWith({"--rows", "3-"}, &rest);
  EXPECT_EQ(first + std::string(rest.begin() + static_cast<long>(rest.find('\n') + 1), rest.end()),
            rowByRow);
}

// The tilt of the draws onto a volatility keeps their mean and reaches the deviation asked for,
// up and down; it refuses what no tilt of the family draws: beyond the two extreme returns'
// widest spread about the mean, a table of one value, a return that is not finite.
TEST(StepTilt, KeepsTheMeanReachesTheDeviationAndRefusesWhatItCannotDraw) {
  const std::unique_ptr<DrawTable> draws = bellDraws();
  const std::vector<double> returns(std::begin(draws->returnFor), std::end(draws->returnFor));
  const TiltedSpread plain = tiltedSpread(returns, {});
  for (const double factor : {0.3, 0.9, 0.999, 1.001, 1.1, 2.0}) {
    const std::optional<StepTilt> tilt = tiltToDeviation(returns, factor * plain.deviation);
    ASSERT_TRUE(tilt) << factor;
    const TiltedSpread tilted = tiltedSpread(returns, *tilt);
    EXPECT_NEAR(tilted.mean, plain.mean, 1e-12 * plain.deviation) << factor;
    EXPECT_NEAR(tilted.deviation, factor * plain.deviation, 1e-10 * plain.deviation) << factor;
    EXPECT_EQ(tilt->curvature > 0.0, factor > 1.0) << factor;
  }
  const auto [low, high] = std::minmax_element(returns.begin(), returns.end());
  const double widest = std::sqrt((*high - plain.mean) * (plain.mean - *low));
  EXPECT_FALSE(tiltToDeviation(returns, 1.01 * widest));
  EXPECT_FALSE(tiltToDeviation(std::vector<double>(8, 0.001), 0.001));
  std::vector<double> infinite = returns;
  infinite[3] = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(tiltToDeviation(infinite, plain.deviation));
}

// The vega column, last in an exact run's results: on a table whose days are all but normal
// (the band out of reach), each path's vega near the money is Black's at the row's implied
// volatility within 1 %; a table of one value has none.
TEST(ExactRuns, TheVegaIsBlacksOnANearNormalTableAndNoneWhereNoTiltMovesTheVolatility) {
  auto resultsOf = [](const std::string& dist) {
    // The table drifts down: forwards of about 92 at 21 days and 79 at 63.
    const auto [outcome, results] =
        exactResultsOf(dist, "S0,K,Days\n100,92,21\n100,76,63\n100,82,63\n");
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    return results;
  };
  const std::string results = resultsOf(bellDistribution(41, 0.0006));
  EXPECT_EQ(fieldsOf(splitLines(results)[0]).back(), "vega");
  int checked = 0;
  for (const auto& [key, line] : resultsByLine(results)) {
    const double days = std::stod(line.at("days"));
    const double forward = std::stod(line.at("forward"));
    const double strike = std::stod(line.at("K"));
    const double volatility = std::stod(line.at("iv_year")) * std::sqrt(days / 252.0);
    const double d1 = std::log(forward / strike) / volatility + volatility / 2;
    if (!(std::fabs(d1) < 1.5)) continue;  // where the tails, not the spread, make the value
    const double black = std::stod(line.at("discount")) * forward *
                         std::exp(-d1 * d1 / 2) / std::sqrt(2 * std::numbers::pi) *
                         std::sqrt(days / 252.0) * 0.01;
    EXPECT_NEAR(std::stod(line.at("vega")), black, 0.01 * black) << key;
    ++checked;
  }
  EXPECT_GE(checked, 9);
  for (const auto& [key, line] : resultsByLine(resultsOf("0.0001,5\n"))) {
    EXPECT_EQ(line.at("vega"), "") << key;
  }
}

// The smile picture: a simulation's points carry bars of one standard error, and a value
// within two of its bound is drawn hollow and counted; --exact draws plain points.
TEST(ExactRuns, TheSmileShowsTheNoiseOfASimulationAndNoneOfTheLimits) {
  auto picture = [](const std::vector<std::string>& arguments) {
    TempDir dir;
    dir.write("Setup.txt", setupText({.runMode = "2", .trajectories = 200, .rate = "0.05"}));
    dir.write("dist.csv", bellDistribution(41, 0.004));
    dir.write("batch.csv", "S0,K,Days\n100,96,2\n100,100,2\n100,104,2\n100,112,2\n");
    std::vector<std::string> args = {"--quiet", "--plot", "p.svg"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    const RunOutcome outcome = runIn(dir, {.arguments = args});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    return dir.read("p.svg");
  };
  auto count = [](const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  const std::string simulated = picture({"--seed", "5", "--chain"});
  const std::string exact = picture({"--exact"});
  // The 112 strike at 2 days is far out of the money: 200 trajectories see it in the money
  // a handful of times at most.
  EXPECT_GE(count(simulated, "fill=\"white\" stroke"), 1u);
  const std::size_t hollow = count(simulated, "fill=\"white\" stroke");
  std::string note = std::to_string(hollow);
  note.insert(0, 1, '>');
  note += " hollow: within 2 SE";
  EXPECT_NE(simulated.find(note), std::string::npos);
  // Error bars (one line each) on the simulated picture only.
  EXPECT_GE(count(simulated, "stroke-width=\"1\"/>"), 1u);
  EXPECT_EQ(count(exact, "stroke-width=\"1\"/>"), 0u);
  EXPECT_NE(exact.find("exact limits"), std::string::npos);
  EXPECT_EQ(count(exact, "fill=\"white\" stroke"), 0u);
  EXPECT_EQ(exact.find("hollow"), std::string::npos);
}

// The smile picture's title and legend fit it: runs with quotes and several S0s of long
// numbers (a title that needs a smaller font, one that lists too many S0s), by simulation with
// its notes and exactly; and a picture of 40 expiries with the longest labels there are.
TEST(ExactRuns, TheSmilesTitleAndLegendFitThePicture) {
  const std::string twoSpots =
      "S0,K,Days\n1234.56,1209.87,3\n1234.56,1259.25,3\n98765.4,96790.1,3\n98765.4,100741,3\n";
  const std::string sixSpots =
      twoSpots + "100.125,100,3\n2000.5,2000,3\n3.14159,3,3\n123457,123457,3\n";
  const std::string quotes =
      "S0,K,days,call,put\n1234.56,1259.25,3,12.5,30\n1234.56,1209.87,3,35,10\n";
  for (const std::string& batch : {twoSpots, sixSpots}) {
    for (const std::vector<std::string>& method :
         {std::vector<std::string>{"--seed", "3"}, std::vector<std::string>{"--exact"}}) {
      TempDir dir;
      dir.write("Setup.txt", setupText({.runMode = "2", .trajectories = 200, .rate = "0.05"}));
      dir.write("dist.csv", bellDistribution(41, 0.004));
      dir.write("batch.csv", batch);
      dir.write("q.csv", quotes);
      std::vector<std::string> args = {"--quiet", "--plot", "p.svg", "--quotes", "q.csv"};
      args.insert(args.end(), method.begin(), method.end());
      const RunOutcome outcome = runIn(dir, {.arguments = args});
      ASSERT_EQ(outcome.status, 0) << outcome.err;
      const std::string svg = dir.read("p.svg");
      EXPECT_NE(svg.find(">squares: market quotes</text>"), std::string::npos) << method[0];
      const char* spotsShown =
          batch == twoSpots ? "S0 1234.56, 98765.4, " : "S0 3.14159 to 123457 (6 values), ";
      EXPECT_NE(svg.find(spotsShown), std::string::npos);
      EXPECT_EQ(textsOutside(svg), std::vector<std::string>{}) << method[0] << "\n" << batch;
    }
  }
  SmilePlot plot;
  for (int i = 0; i < 40; ++i) {
    const double spot = -1234567.0 - i;
    plot.add(spot, 2147483647 - i, spot * 1.01, spot, 0.2 + 0.01 * i, 0.19, 0.21, i % 2 == 0,
             0.25);
  }
  const std::string svg = plot.svg(2147483647, 5000);
  EXPECT_NE(svg.find(">S0 -1.23457e+06, 2147483647 days</text>"), std::string::npos);
  EXPECT_EQ(textsOutside(svg), std::vector<std::string>{});
}

}  // namespace

// A table that drifts upward, over 10,000 days: Var(S_T) is past the largest double, its root
// is not. The spread of the sum of days, formed from logs, keeps the law of independent days:
// 1 + (spread / mean)^2 of 10,000 days is that of 5,000 days squared.
TEST(ExactLaw, TheSpreadOfTenThousandDaysIsANumberWhereItsVarianceIsNot) {
  std::vector<double> returns;
  std::vector<double> weights;
  for (int i = 0; i <= 200; ++i) {
    const double x = -0.004 + 0.00004 * i;
    returns.push_back(x + 0.001);
    weights.push_back(std::floor(1000.0 * std::exp(-x * x / (2.0 * 0.0013 * 0.0013))) + 1.0);
  }
  const auto draws = drawsOf(returns, weights);
  const DayLaw day = dayLaw(*draws, PathKind::base, 0.0, 256, kDefaultStepsPerDay);
  const TerminalLaw half = terminalLaw(day, 5000);
  const TerminalLaw whole = terminalLaw(day, kExactMostDays);
  ASSERT_TRUE(std::isfinite(half.expVariance));
  EXPECT_NEAR(half.expSpread / std::sqrt(half.expVariance), 1.0, 1e-12);
  EXPECT_TRUE(std::isinf(whole.expVariance));
  ASSERT_TRUE(std::isfinite(whole.expSpread));
  const double halfRatio = half.expSpread / half.expMean;
  const double wholeRatio = whole.expSpread / whole.expMean;
  EXPECT_NEAR(std::log1p(wholeRatio * wholeRatio), 2.0 * std::log1p(halfRatio * halfRatio),
              1e-9 * std::log1p(wholeRatio * wholeRatio));

  // Whole runs: the spread of 10,000 days is printed as a number, with no warning of its own;
  // a start so large that its figures are beyond a double says so, naming the row and the
  // figure, and not as a NaN input.
  std::string dist;
  for (std::size_t i = 0; i < returns.size(); ++i) {
    dist += std::to_string(returns[i]);
    dist += ",";
    dist += std::to_string(weights[i]);
    dist += "\n";
  }
  const auto [long_, longResults] = exactResultsOf(dist, "S0,K,Days\n100,100,10000\n");
  EXPECT_EQ(long_.status, 0) << long_.err;
  EXPECT_EQ(long_.out.find("nan"), std::string::npos) << long_.out;
  EXPECT_EQ(long_.err.find("not all formed"), std::string::npos) << long_.err;
  const std::vector<std::string> lines = splitLines(longResults);
  ASSERT_EQ(lines.size(), 6u);
  // The base line's stdev, its eighth field.
  std::string field = lines[3];
  for (int i = 0; i < 7; ++i) field.erase(0, field.find(',') + 1);
  field.resize(field.find(','));
  EXPECT_TRUE(std::isfinite(std::stod(field)) && std::stod(field) > 0.0) << lines[3];

  const auto [huge, hugeResults] = exactResultsOf(dist, "S0,K,Days\n100,100,5\n1e200,100,10000\n");
  EXPECT_EQ(huge.status, 0) << huge.err;
  EXPECT_NE(huge.err.find("empricer: warning: the exact figures of 1 row (the first: row 2, base "
                          "call) are not all formed: a figure beyond the largest number a double "
                          "holds (1.8e+308) shows as inf"),
            std::string::npos)
      << huge.err;
  EXPECT_EQ(huge.err.find("not all numbers"), std::string::npos) << huge.err;
}

// Rows of more days than --exact takes are skipped, each with its console line, and the run
// warns once: how many, the first and why; a single such row keeps its own line.
TEST(ExactRuns, RowsOfTooManyDaysAreSkippedWithOneWarningARun) {
  const std::string dist = bellDistribution(41, 0.004);
  const std::string tooLong = "the days (10001) are more than --exact takes (10000)";
  const auto [many, manyResults] = exactResultsOf(
      dist, "S0,K,Days\n100,100,5\n100,100,10001\n100,90,10001\n100,100,3\n100,110,10001\n");
  EXPECT_EQ(many.status, 0) << many.err;
  EXPECT_EQ(many.err, "empricer: warning: 3 rows (the first: row 2) are skipped; row 2: " +
                          tooLong + "\n");
  std::size_t shown = 0;
  for (const std::string& line : splitLines(many.out)) {
    if (line == "Skipped row: " + tooLong) ++shown;
  }
  EXPECT_EQ(shown, 3u);
  EXPECT_EQ(splitLines(manyResults).size(), 1u + 2u * 5u);

  const auto [one, oneResults] = exactResultsOf(dist, "S0,K,Days\n100,100,5\n100,100,10001\n");
  EXPECT_EQ(one.err, "empricer: warning: row 2: " + tooLong + ": the row is skipped\n");
}
