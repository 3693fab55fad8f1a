// --calibrate: the measure on whole paths against a direct one-period fit and a brute-force
// joint law, a market of the table's own prices met with no tilt, a skewed market met inside
// every spread, and the quotes a calibration refuses.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/quotes/calibration_quotes.h"
#include "engine/table/draw_table.h"
#include "engine/exact/exact_law.h"
#include "engine/exact/exp_kernels.h"
#if defined(__x86_64__)
#include "engine/exact/exp_wide.h"
#endif
#include "engine/exact/fourier.h"
#include "engine/exact/lattice_measure.h"
#include "engine/exact/period_fit.h"
#include "picture_support.h"
#include "run_support.h"
#include "value_support.h"

using namespace empricer;

namespace {

std::unique_ptr<DrawTable> bellDraws() {
  std::vector<double> returns;
  std::vector<double> weights;
  for (int i = 0; i < 41; ++i) {
    const double x = -0.004 + 0.0002 * i;
    returns.push_back(x);
    weights.push_back(std::floor(1000.0 * std::exp(-x * x / (2.0 * 0.0016 * 0.0016))) + 1.0);
  }
  const auto table = returnTableOf(returns, weights);
  auto draws = std::make_unique<DrawTable>();
  buildDrawTable(*table, static_cast<std::int32_t>(table->totalWeight), *draws);
  return draws;
}

double normalCdf(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }

// Black's price of an option on forward F with total volatility s, discounted by d.
double black(bool call, double f, double k, double s, double d) {
  const double d1 = (std::log(f / k) + 0.5 * s * s) / s;
  const double d2 = d1 - s;
  return call ? d * (f * normalCdf(d1) - k * normalCdf(d2))
              : d * (k * normalCdf(-d2) - f * normalCdf(-d1));
}

// A skewed market on the table's forwards (units of S0): bands of +-2 % (at least 1e-4).
std::vector<ExpiryQuotes> skewedMarket(const std::vector<int>& days,
                                       const std::vector<double>& forwards) {
  std::vector<ExpiryQuotes> market;
  for (std::size_t e = 0; e < days.size(); ++e) {
    ExpiryQuotes q;
    q.days = days[e];
    q.discount = std::pow(2.718281828459, -(days[e] * 0.05 / 270.0));
    for (const double k : {0.94, 0.97, 1.0, 1.03, 1.06}) {
      const double vol = 0.25 - 0.5 * (k - 1.0);
      for (const bool call : {true, false}) {
        const double p = black(call, forwards[e], k * forwards[e],
                               vol * std::sqrt(days[e] / 252.0), q.discount);
        const double half = std::max(0.02 * p, 1e-4);
        q.prices.push_back({call, k * forwards[e], q.discount, std::max(p - half, 0.0), p + half});
        q.quotes.push_back(q.quotes.size());
      }
    }
    market.push_back(q);
  }
  return market;
}

std::vector<double> forwardsOf(const DayLaw& day, const std::vector<int>& days) {
  std::vector<double> forwards;
  for (const int d : days) {
    const NodeMasses nodes = sumOfDays(day, d);
    double f = 0.0;
    for (std::size_t i = 0; i < nodes.mass.size(); ++i) {
      f += nodes.mass[i] *
           std::exp(d * day.low + static_cast<double>(nodes.first + static_cast<std::int64_t>(i)) *
                                      day.spacing);
    }
    forwards.push_back(f);
  }
  return forwards;
}

}  // namespace

// With one expiry the measure is the one-period fit on the law of X_e itself; with two, on a
// coarse lattice, the forward and backward passes give what the joint law of (Y_1, Y_2) summed
// out gives, and the fit meets every band and both forwards.
TEST(Calibration, ThePassesAreTheOnePeriodFitAndTheJointLawSummedOut) {
  const auto draws = bellDraws();
  const DayLaw day = dayLaw(stepLaw(*draws, PathKind::base, 0.0), 64, 270);
  {
    const std::vector<int> days = {5};
    LatticeMeasure measure(day, day, skewedMarket(days, forwardsOf(day, days)));
    ASSERT_TRUE(measure.calibrate());
    const NodeMasses nodes = sumOfDays(day, 5);
    std::vector<double> x;
    for (std::size_t i = 0; i < nodes.mass.size(); ++i) {
      x.push_back(std::exp(5 * day.low + static_cast<double>(nodes.first + static_cast<std::int64_t>(i)) *
                                             day.spacing));
    }
    const PeriodFit direct = fitPeriod(x, nodes.mass, measure.bands()[0].targets);
    ASSERT_TRUE(direct.met);
    EXPECT_NEAR(measure.fits()[0].mu, direct.mu, 1e-6);
    for (std::size_t j = 0; j < direct.lambda.size(); ++j) {
      EXPECT_NEAR(measure.fits()[0].lambda[j], direct.lambda[j], 1e-6) << j;
    }
  }
  const std::vector<int> days = {2, 3};
  LatticeMeasure measure(day, day, skewedMarket(days, forwardsOf(day, days)));
  ASSERT_TRUE(measure.calibrate());
  // The joint law on the lattice: Y_1 from 2 days, Y_2 - Y_1 from 1 more, each pair weighed by
  // h_1(Y_1) h_2(Y_2).
  const NodeMasses two = sumOfDays(day, 2);
  const NodeMasses one = sumOfDays(day, 1);
  const auto half = static_cast<std::int64_t>(day.intervals / 2);
  std::map<std::int64_t, double> second;  // Q's law of Y_2 by point k (y = k x spacing)
  double total = 0.0;
  std::vector<double> firstPrices(measure.expiries()[0].prices.size(), 0.0);
  for (std::size_t i = 0; i < two.mass.size(); ++i) {
    const std::int64_t k1 = two.first + static_cast<std::int64_t>(i) - 2 * half;
    const double x1 = std::exp(static_cast<double>(k1) * day.spacing);
    const double h1 = periodTilt(measure.bands()[0].targets, measure.fits()[0], x1);
    for (std::size_t j = 0; j < one.mass.size(); ++j) {
      const std::int64_t k2 = k1 + one.first + static_cast<std::int64_t>(j) - half;
      const double x2 = std::exp(static_cast<double>(k2) * day.spacing);
      const double h2 = periodTilt(measure.bands()[1].targets, measure.fits()[1], x2);
      const double w = two.mass[i] * one.mass[j] * std::exp(h1 + h2);
      total += w;
      second[k2] += w;
      for (std::size_t q = 0; q < firstPrices.size(); ++q) {
        firstPrices[q] += w * periodPayoff(measure.expiries()[0].prices[q], x1);
      }
    }
  }
  const std::vector<std::vector<double>> prices = measure.modelPrices();
  for (std::size_t q = 0; q < firstPrices.size(); ++q) {
    EXPECT_NEAR(prices[0][q], firstPrices[q] / total, 1e-12) << q;
    const PeriodPrice& band = measure.expiries()[0].prices[q];
    EXPECT_GE(prices[0][q], band.bid - 1e-9);
    EXPECT_LE(prices[0][q], band.ask + 1e-9);
  }
  const TerminalLaw law = measure.marginal(PathKind::base, 3);
  double forward = 0.0;
  for (const auto& [k, w] : second) forward += w / total * std::exp(static_cast<double>(k) * day.spacing);
  EXPECT_NEAR(law.expMean, forward, 1e-12);
  EXPECT_NEAR(forward, measure.forwards()[1], 1e-10) << "the forward is kept";
}

namespace {

std::string text(double v) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", v);
  return buffer;
}

struct CalibratedRun {
  RunOutcome outcome;
  std::map<std::string, ResultsLine> results;
  std::vector<std::vector<std::string>> report;
  std::string batchResult;
  std::string plot;  // --plot p.svg
};

// A batch run on the chain workload's table (rate 0.05) with `quotes` as q.csv and `arguments`.
CalibratedRun runWith(const std::string& batch, const std::string& quotes,
                      const std::vector<std::string>& arguments, int trajectories = 10) {
  TempDir dir;
  writeBellInputs(dir, {.runMode = "2", .trajectories = trajectories, .rate = "0.05"}, batch);
  // The chain workload's table: a day's forward near its start, as a market's is.
  dir.write("dist.csv", readFile(EMPRICER_GOLDEN_DIR "/../../bench/workloads/chain/dist.csv").value());
  dir.write("q.csv", quotes);
  dir.write("Batch_Result.csv", "earlier results\n");
  std::vector<std::string> all = {"--quiet", "--results", "r.csv"};
  all.insert(all.end(), arguments.begin(), arguments.end());
  CalibratedRun run;
  run.outcome = runIn(dir, {.clock = kStillClock, .arguments = all});
  if (dir.exists("r.csv")) run.results = resultsByLine(dir.read("r.csv"));
  if (dir.exists("rep.csv")) {
    for (const std::string& line : splitLines(dir.read("rep.csv"))) run.report.push_back(fieldsOf(line));
  }
  run.batchResult = dir.read("Batch_Result.csv");
  if (dir.exists("p.svg")) run.plot = dir.read("p.svg");
  return run;
}

// The quoted prices' lines of a report (up to its second header), by column name.
std::vector<std::map<std::string, std::string>> quoteLines(const CalibratedRun& run) {
  std::vector<std::map<std::string, std::string>> lines;
  for (std::size_t i = 1; i < run.report.size() && run.report[i][0] != "S0"; ++i) {
    std::map<std::string, std::string> line;
    for (std::size_t c = 0; c < run.report[0].size(); ++c) line[run.report[0][c]] = run.report[i][c];
    lines.push_back(line);
  }
  return lines;
}

double relativeEntropyOf(const CalibratedRun& run) {
  return std::stod(run.report.back()[1]);
}

}  // namespace

// End to end: a market made of the table's own exact prices is met with no tilt (KL ~ 0, every
// path's values as without --calibrate); a skewed market of two expiries is met inside every
// spread with the table's forwards kept; one line a side reads as one line with both.
TEST(Calibration, TheTablesOwnMarketNeedsNoTiltAndASkewedOneIsMetInsideEverySpread) {
  std::string batch = "S0,K,Days\n";
  for (const int days : {10, 30}) {
    for (const int k : {94, 97, 100, 103, 106}) {
      batch += "100," + std::to_string(k) + "," + std::to_string(days) + "\n";
    }
  }
  const CalibratedRun plain = runWith(batch, "S0,K,days,call\n", {"--exact"});
  ASSERT_EQ(plain.outcome.status, 0) << plain.outcome.err;
  std::string own = "S0,K,days,call_bid,call_ask,put_bid,put_ask\n";
  std::string skewed = own;
  std::string oneSideALine = "S0,K,days,call_bid,call_ask,put_bid,put_ask\n";
  for (const auto& [key, line] : plain.results) {
    if (line.at("path") != "base") continue;
    const double call = std::stod(line.at("call"));
    const double put = std::stod(line.at("put"));
    const std::string keys = line.at("S0") + "," + line.at("K") + "," + line.at("days") + ",";
    own += keys + text(std::max(call - 1e-6, 0.0)) + "," + text(call + 1e-6) + "," +
           text(std::max(put - 1e-6, 0.0)) + "," + text(put + 1e-6) + "\n";
    const double f = std::stod(line.at("forward"));
    const double d = std::stod(line.at("discount"));
    const double k = std::stod(line.at("K"));
    const double t = std::stod(line.at("days")) / 252.0;
    const double vol = 0.3 - 0.8 * (k / f - 1.0);
    const double c = black(true, f, k, vol * std::sqrt(t), d);
    const double p = black(false, f, k, vol * std::sqrt(t), d);
    const auto band = [](double v) {
      return text(std::max(v - std::max(0.02 * v, 0.01), 0.0)) + "," +
             text(v + std::max(0.02 * v, 0.01));
    };
    skewed += keys + band(c) + "," + band(p) + "\n";
    oneSideALine += keys + band(c) + ",,\n" + keys + ",," + band(p) + "\n";
  }
  const CalibratedRun same =
      runWith(batch, own, {"--exact", "--calibrate", "q.csv", "--calibration-report", "rep.csv"});
  ASSERT_EQ(same.outcome.status, 0) << same.outcome.err;
  EXPECT_LT(relativeEntropyOf(same), 1e-8);
  for (const auto& [key, line] : plain.results) {
    for (const char* column : {"call", "put"}) {
      EXPECT_NEAR(std::stod(same.results.at(key).at(column)), std::stod(line.at(column)), 1e-6 * 100)
          << key << " " << column;
    }
  }
  const CalibratedRun met =
      runWith(batch, skewed, {"--exact", "--calibrate", "q.csv", "--calibration-report", "rep.csv"});
  ASSERT_EQ(met.outcome.status, 0) << met.outcome.err;
  const auto lines = quoteLines(met);
  ASSERT_EQ(lines.size(), 20u);
  for (const auto& line : lines) {
    EXPECT_EQ(line.at("inside"), "1") << line.at("line") << " " << line.at("side");
    EXPECT_GE(std::stod(line.at("model")), std::stod(line.at("bid")) - 1e-7);
    EXPECT_LE(std::stod(line.at("model")), std::stod(line.at("ask")) + 1e-7);
  }
  EXPECT_GT(relativeEntropyOf(met), 1e-3) << "a skew needs a tilt";
  // The base path keeps the table's forward; a shifted path is valued under the same functions
  // of its own path scaled back to S0, and its forward moves with them.
  for (const auto& [key, line] : plain.results) {
    if (line.at("path") != "base") continue;
    EXPECT_NEAR(std::stod(met.results.at(key).at("forward")), std::stod(line.at("forward")), 1e-7 * 100)
        << key;
  }
  EXPECT_NE(met.outcome.err.find("20 of 20 prices of 2 expiries inside"), std::string::npos)
      << met.outcome.err;
  // On shared paths, weighted (20,000 trajectories): every price inside, and every path's
  // values within five standard errors of the exact law's.
  const CalibratedRun sampled = runWith(
      batch, skewed, {"--chain", "--seed", "5", "--calibrate", "q.csv", "--calibration-report", "rep.csv"},
      20000);
  ASSERT_EQ(sampled.outcome.status, 0) << sampled.outcome.err;
  for (const auto& line : quoteLines(sampled)) {
    EXPECT_EQ(line.at("inside"), "1") << line.at("line") << " " << line.at("side");
  }
  for (const auto& [key, line] : met.results) {
    for (const auto& [value, error] : {std::pair{"call", "se_call"}, std::pair{"put", "se_put"}}) {
      EXPECT_NEAR(std::stod(sampled.results.at(key).at(value)), std::stod(line.at(value)),
                  5.0 * std::stod(sampled.results.at(key).at(error)) + 1e-6)
          << key << " " << value;
    }
  }
  const CalibratedRun split = runWith(
      batch, oneSideALine, {"--exact", "--calibrate", "q.csv", "--calibration-report", "rep.csv"});
  ASSERT_EQ(split.outcome.status, 0) << split.outcome.err;
  for (const auto& [key, line] : met.results) {
    EXPECT_EQ(split.results.at(key).at("call"), line.at("call")) << key;
  }
}

// What a calibration refuses, each before any result is written: status, message, and
// Batch_Result.csv as it was.
TEST(Calibration, RefusedQuotesAreNamedAndNothingIsWritten) {
  const std::string batch = "S0,K,Days\n100,100,5\n";
  const std::string header = "S0,K,days,call_bid,call_ask,put_bid,put_ask\n";
  const struct Case {
    const char* what;
    std::string quotes;
    std::vector<std::string> arguments;
    int status;
    const char* message;
  } cases[] = {
      {"without --exact", header + "100,100,5,1,2,,\n", {"--seed", "1"}, 2,
       "--calibrate values under a measure of whole paths"},
      {"an S0 with no quote", header + "101,100,5,1,2,,\n", {"--exact"}, 2,
       "row 1: S0 100 has no quote to calibrate to"},
      {"an arbitrage", header + "100,100,5,1,1.2,,\n100,105,5,1.5,1.6,,\n", {"--exact"}, 2,
       "q.csv: line 3: the call at K 105 bids 1.5, above the ask 1.2"},
      {"a call no path reaches", header + "100,100,5,1,2,,\n100,108,1,0.5,0.6,,\n", {"--exact"}, 1,
       "q.csv: line 3: the call at K 108, 1 days, bids 0.5, above the most"},
      {"a call given twice", header + "100,100,5,1,2,,\n100,100,5,1.1,2.1,,\n", {"--exact"}, 2,
       "line 3: the call of this S0, K and days is given on line 2 already"},
      {"parity against the forward", header + "100,100,5,1,1.01,11.7,11.71\n", {"--exact"}, 1,
       "q.csv: line 2: the call and the put at K 100, 5 days, imply a forward of"},
      // Each within reach alone; together the call at 104 must pay at most 3/7 of the ask at
      // 100 (the chord to nothing at the band's 107).
      {"calls out of reach together", header + "100,100,1,0.4,0.5,,\n100,104,1,0.45,0.46,,\n",
       {"--exact"}, 1, "q.csv: line 3: the call at K 104, 1 days, bids 0.45, and with the asks"},
      // Beyond that chord by less than the lattice's error: the fit is tried, and fails.
      {"a fit that fails", header + "100,100,1,0.4,0.5,,\n100,104,1,0.2143,0.46,,\n",
       {"--exact"}, 1, "no measure on the model's paths was found that meets every quote"},
      {"a fit on the paths that fails", header + "100,100,1,0.4,0.5,,\n100,104,1,0.2143,0.46,,\n",
       {"--chain", "--seed", "3"}, 1, "sweeps on the simulated paths: no measure"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = c.arguments;
    arguments.insert(arguments.end(), {"--calibrate", "q.csv"});
    const CalibratedRun run = runWith(batch, c.quotes, arguments);
    EXPECT_EQ(run.outcome.status, c.status) << c.what << "\n" << run.outcome.err;
    EXPECT_NE(run.outcome.err.find(c.message), std::string::npos) << c.what << "\n" << run.outcome.err;
    EXPECT_EQ(run.batchResult, "earlier results\n") << c.what;
  }
}

// The real transform's convolution is the direct sum, at every length and parity; and a
// one-period fit on unsorted points, calls and puts, met by its own account, is met when its
// weights are summed directly: the broken-line moments are the direct ones.
TEST(Calibration, TheExponentialsAreWithinAnUlpAndTheSameInEveryWidth) {
  std::uint64_t state = 99;
  std::vector<double> in;
  for (int i = 0; i < 200000; ++i) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    in.push_back(-720.0 + 1429.0 * static_cast<double>(state >> 11) / 9007199254740992.0);
  }
  for (const double edge : {-708.0, -707.9999999, -1e-300, 0.0, 1e-300, 0.5 * std::log(2.0), 709.0}) {
    in.push_back(edge);
  }
  const double shift = 0.25;
  std::vector<double> reference(in.size());
  expOfEachScalar(in.data(), shift, reference.data(), in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    const double y = in[i] - shift;
    if (y < -708.0) {
      EXPECT_EQ(reference[i], 0.0) << y;
      continue;
    }
    const double want = std::exp(y);
    const double ulp = std::nextafter(want, HUGE_VAL) - want;
    ASSERT_LE(std::fabs(reference[i] - want), ulp) << y;
  }
  std::vector<std::vector<double>> wide;
  wide.emplace_back(in.size());
  expOfEach(in.data(), shift, wide.back().data(), in.size());
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) {
    wide.emplace_back(in.size());
    expOfEachAvx2(in.data(), shift, wide.back().data(), in.size());
  }
  if (__builtin_cpu_supports("avx512f")) {
    wide.emplace_back(in.size());
    expOfEachAvx512(in.data(), shift, wide.back().data(), in.size());
  }
#endif
  for (const std::vector<double>& out : wide) {
    EXPECT_EQ(std::memcmp(out.data(), reference.data(), in.size() * sizeof(double)), 0);
  }
}

// The transform's passes in lanes give the bytes of one butterfly at a time, forward and
// inverse, for every pass length the transforms use, with signed zeros, infinities and NaNs.
TEST(Calibration, TheTransformsPassesInLanesAreTheOneAtATimeBytes) {
  std::uint64_t state = 99;
  auto next = [&] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    const double u = static_cast<double>(state >> 11) / 9007199254740992.0;
    const std::uint64_t pick = state % 50;
    if (pick == 0) return -0.0;
    if (pick == 1) return std::numeric_limits<double>::infinity();
    if (pick == 2) return std::nan("");
    if (pick == 3) return 1e-310;
    return (u - 0.5) * std::ldexp(1.0, static_cast<int>(state % 40) - 20);
  };
  for (std::size_t half = 1; half <= 256; half *= 2) {
    for (const bool inverse : {false, true}) {
      const std::size_t count = 4 * half;
      std::vector<std::complex<double>> roots(half);
      std::vector<std::complex<double>> lanes(count);
      for (auto& r : roots) r = {next(), next()};
      for (auto& v : lanes) v = {next(), next()};
      std::vector<std::complex<double>> single = lanes;
      radixTwoPass(reinterpret_cast<double*>(lanes.data()), count, roots.data(), half, inverse);
      passOneByOne(reinterpret_cast<double*>(single.data()), count, roots.data(), half, inverse);
      EXPECT_EQ(std::memcmp(lanes.data(), single.data(), count * sizeof lanes[0]), 0)
          << half << " " << inverse;
    }
  }
}

TEST(Calibration, TheRealTransformAndTheFitsMomentsAreTheDirectSums) {
  std::uint64_t state = 12345;
  auto uniform = [&] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) / 9007199254740992.0;
  };
  for (std::size_t na = 1; na < 40; na += 3) {
    for (std::size_t nb = 2; nb < 23; nb += 5) {
      std::vector<double> a(na);
      std::vector<double> b(nb);
      for (double& v : a) v = uniform();
      for (double& v : b) v = uniform();
      const std::size_t count = na + nb - 1;
      const RealFourierTransform fourier(std::max<std::size_t>(powerOfTwoAtLeast(count), 4));
      std::vector<std::complex<double>> x;
      std::vector<std::complex<double>> y;
      fourier.forward(a, x);
      fourier.forward(b, y);
      for (std::size_t i = 0; i < x.size(); ++i) x[i] *= y[i];
      std::vector<double> out;
      fourier.inverse(x, out, count);
      for (std::size_t i = 0; i < count; ++i) {
        double direct = 0.0;
        for (std::size_t j = 0; j < na; ++j) {
          if (i >= j && i - j < nb) direct += a[j] * b[i - j];
        }
        EXPECT_NEAR(out[i] / static_cast<double>(fourier.size()), direct, 1e-12) << na << " " << nb;
      }
    }
  }
  for (int trial = 0; trial < 20; ++trial) {
    std::vector<double> x(400);
    std::vector<double> w(400);
    for (std::size_t i = 0; i < x.size(); ++i) {
      x[i] = std::exp(0.3 * (uniform() + uniform() + uniform() - 1.5));
      w[i] = uniform() < 0.1 ? 0.0 : uniform();
    }
    // Targets met by construction: the forward and prices of the weights tilted by e^(s x),
    // each price in a band of +-2 % around its own.
    const double s = uniform() - 0.5;
    PeriodTargets targets;
    double tiltedTotal = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
      tiltedTotal += w[i] * std::exp(s * x[i]);
      targets.forward += w[i] * std::exp(s * x[i]) * x[i];
    }
    targets.forward /= tiltedTotal;
    for (const double k : {0.8, 0.9, 1.0, 1.1, 1.2}) {
      PeriodPrice q{uniform() < 0.5, k, 0.99, 0.0, 0.0};
      double price = 0.0;
      for (std::size_t i = 0; i < x.size(); ++i) {
        price += w[i] * std::exp(s * x[i]) * periodPayoff(q, x[i]);
      }
      price /= tiltedTotal;
      q.bid = 0.98 * price;
      q.ask = 1.02 * price + 1e-6;
      targets.prices.push_back(q);
    }
    const PeriodFit fit = fitPeriod(x, w, targets);
    ASSERT_TRUE(fit.met) << trial;
    // The same points sorted and given by their log weights: the same fit, to the bit.
    std::vector<std::size_t> order(x.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return x[a] < x[b]; });
    std::vector<double> sortedX;
    std::vector<double> logW;
    for (const std::size_t i : order) {
      sortedX.push_back(x[i]);
      logW.push_back(w[i] > 0.0 ? std::log(w[i]) : -std::numeric_limits<double>::infinity());
    }
    const PeriodFit sorted = fitPeriodSorted(sortedX, logW, targets);
    EXPECT_EQ(flatFits({sorted}), flatFits({fit})) << trial;
    // The tilt's broken line is the sum of its terms, at the strikes, between and beyond them.
    for (const double at : {0.5, 0.8, 0.85, 0.9, 1.0, 1.05, 1.2, 1.7, x[trial]}) {
      double direct = fit.mu * at;
      double scale = std::fabs(direct);
      for (std::size_t j = 0; j < targets.prices.size(); ++j) {
        direct += fit.lambda[j] * periodPayoff(targets.prices[j], at);
        scale += std::fabs(fit.lambda[j] * periodPayoff(targets.prices[j], at)) + std::fabs(fit.lambda[j]);
      }
      EXPECT_NEAR(periodTilt(targets, fit, at), direct, 1e-13 * scale) << trial << " " << at;
    }
    std::vector<double> tilted(x.size());
    double top = -1e300;
    for (std::size_t i = 0; i < x.size(); ++i) top = std::max(top, periodTilt(targets, fit, x[i]));
    double sum = 0.0;
    double mean = 0.0;
    std::vector<double> prices(targets.prices.size(), 0.0);
    for (std::size_t i = 0; i < x.size(); ++i) {
      const double q = w[i] * std::exp(periodTilt(targets, fit, x[i]) - top);
      sum += q;
      mean += q * x[i];
      for (std::size_t j = 0; j < prices.size(); ++j) prices[j] += q * periodPayoff(targets.prices[j], x[i]);
    }
    EXPECT_NEAR(mean / sum, targets.forward, 1e-10) << trial;
    for (std::size_t j = 0; j < prices.size(); ++j) {
      EXPECT_GE(prices[j] / sum, targets.prices[j].bid - 1e-10) << trial << " " << j;
      EXPECT_LE(prices[j] / sum, targets.prices[j].ask + 1e-10) << trial << " " << j;
    }
  }
}

namespace {

// The tags of an SVG named `element` (e.g. "<polyline") whose class is `kind` ("" for none),
// each with its stroke colour.
std::vector<std::pair<std::string, std::string>> tagsOf(const std::string& svg,
                                                        const std::string& element,
                                                        const std::string& kind) {
  std::vector<std::pair<std::string, std::string>> tags;
  for (std::size_t at = svg.find(element + " "); at != std::string::npos;
       at = svg.find(element + " ", at + 1)) {
    const std::string tag = svg.substr(at, svg.find('>', at) - at);
    if (picture::attribute(tag, "class") == kind) {
      tags.emplace_back(picture::attribute(tag, "stroke"), tag);
    }
  }
  return tags;
}

// The x of each point of a points attribute ("x,y x,y ...").
std::vector<double> xsOf(const std::string& points) {
  std::vector<double> xs;
  for (std::size_t at = 0; at < points.size();) {
    xs.push_back(std::stod(points.substr(at)));
    const std::size_t space = points.find(' ', at);
    at = space == std::string::npos ? points.size() : space + 1;
  }
  return xs;
}

}  // namespace

// --calibrate --plot: each expiry's colour draws three series: the calibrated smile (the run's
// points, a solid line), the table's own (the same rows without calibration, dashed) and the
// market's quotes (a diamond per quoted strike, at the calibrated point of that strike's row);
// a run without --calibrate draws neither of the two others.
TEST(Calibration, ThePictureShowsTheMarketTheCalibratedAndTheTablesOwnSmile) {
  std::string batch = "S0,K,Days\n";
  const int strikes[] = {94, 97, 100, 103, 106};
  for (const int days : {10, 30}) {
    for (const int k : strikes) {
      batch += "100," + std::to_string(k) + "," + std::to_string(days) + "\n";
    }
  }
  // A skewed market about the table's own forwards, at 10 and 30 days.
  const CalibratedRun table = runWith(batch, "S0,K,days,call\n", {"--exact"});
  ASSERT_EQ(table.outcome.status, 0) << table.outcome.err;
  std::string quotes = "S0,K,days,call_bid,call_ask,put_bid,put_ask\n";
  for (const auto& [key, line] : table.results) {
    if (line.at("path") != "base") continue;
    const double f = std::stod(line.at("forward"));
    const double d = std::stod(line.at("discount"));
    const double k = std::stod(line.at("K"));
    const double t = std::stod(line.at("days")) / 252.0;
    const double vol = 0.3 - 0.8 * (k / f - 1.0);
    const auto band = [](double v) {
      return text(std::max(v - std::max(0.02 * v, 0.01), 0.0)) + "," +
             text(v + std::max(0.02 * v, 0.01));
    };
    quotes += line.at("S0") + "," + line.at("K") + "," + line.at("days") + "," +
              band(black(true, f, k, vol * std::sqrt(t), d)) + "," +
              band(black(false, f, k, vol * std::sqrt(t), d)) + "\n";
  }
  for (const auto& arguments : {std::vector<std::string>{"--exact"},
                                std::vector<std::string>{"--chain", "--seed", "3"}}) {
    std::vector<std::string> calibrated = arguments;
    calibrated.insert(calibrated.end(), {"--calibrate", "q.csv", "--plot", "p.svg"});
    const CalibratedRun run = runWith(batch, quotes, calibrated, 2000);
    ASSERT_EQ(run.outcome.status, 0) << run.outcome.err;
    const auto solid = tagsOf(run.plot, "<polyline", "");
    const auto own = tagsOf(run.plot, "<polyline", "table");
    const auto market = tagsOf(run.plot, "<polygon", "market");
    ASSERT_EQ(solid.size(), 2u) << arguments[0];
    ASSERT_EQ(own.size(), 2u) << arguments[0];
    ASSERT_EQ(market.size(), 10u) << arguments[0];
    for (std::size_t e = 0; e < 2; ++e) {
      const std::string& colour = solid[e].first;
      EXPECT_EQ(own[e].first, colour);
      const std::vector<double> rows = xsOf(picture::attribute(solid[e].second, "points"));
      ASSERT_EQ(rows.size(), 5u);
      // The same strikes; on the same forward for the exact law (a simulation's own forward
      // is its paths' mean, off by its noise).
      const bool exact = arguments[0] == "--exact";
      const std::vector<double> ownRows = xsOf(picture::attribute(own[e].second, "points"));
      ASSERT_EQ(ownRows.size(), 5u);
      for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_NEAR(ownRows[i], rows[i], exact ? 0.05 : 20.0) << arguments[0] << " " << i;
        if (i > 0) {
          EXPECT_GT(ownRows[i], ownRows[i - 1]);
        }
      }
      EXPECT_NE(picture::attribute(own[e].second, "points"),
                picture::attribute(solid[e].second, "points"))
          << "a skewed market moves the smile";
      // One diamond per quoted strike (the out-of-the-money side), in the expiry's colour, its
      // centre (the top vertex's x) at the calibrated point of that strike's row.
      std::size_t drawn = 0;
      for (const auto& [stroke, tag] : market) {
        if (stroke != colour) continue;
        EXPECT_NEAR(xsOf(picture::attribute(tag, "points"))[0], rows[drawn],
                    arguments[0] == "--exact" ? 0.05 : 0.5)
            << arguments[0] << " expiry " << e << " strike " << strikes[drawn];
        ++drawn;
      }
      EXPECT_EQ(drawn, 5u);
    }
    EXPECT_NE(run.plot.find("dashed: the table's own (P)"), std::string::npos);
    std::vector<std::string> plainArguments = arguments;
    plainArguments.insert(plainArguments.end(), {"--plot", "p.svg"});
    const CalibratedRun uncalibrated = runWith(batch, quotes, plainArguments, 2000);
    ASSERT_EQ(uncalibrated.outcome.status, 0) << uncalibrated.outcome.err;
    EXPECT_EQ(uncalibrated.plot.find("class="), std::string::npos);
    EXPECT_EQ(uncalibrated.plot.find("dashed"), std::string::npos);
  }
}
