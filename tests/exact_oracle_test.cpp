// The exact limits (--exact) against a simulation of the same chain, run by the real program:
// on a bell table, a fat-tailed table that empricer-dist makes from the shipped history, the
// same with steps the size of a quiet minute bar's, and a wide table on which the band clips a
// few percent of days, every path's call and put lies
// within five standard errors of its limit and the squared distances average at most 4; and a
// simulation whose draws carry a small bias fails that check.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "run_support.h"

namespace {

const std::string kSourceDir = EMPRICER_GOLDEN_DIR "/../..";
const std::set<std::string> kPaths = {"shift1", "shift2", "base", "shift3", "shift4"};

// 100,000 trajectories of up to 20 days of 270 steps: 5.4e8 draws, within the generator's cycle.
std::string setup() { return setupText({.runMode = "2", .trajectories = 100000, .rate = "0.05"}); }

// One S0, strikes from deep in to deep out of the money, three expiries: 15 rows.
std::string chain() {
  std::string batch = "S0,K,Days\n";
  for (int days : {1, 5, 20}) {
    for (int strike = 90; strike <= 110; strike += 5) {
      batch += "100," + std::to_string(strike) + "," + std::to_string(days) + "\n";
    }
  }
  return batch;
}

// A table file's text with every return r made r x scale + shift.
std::string remapped(const std::string& table, double scale, double shift) {
  std::string text;
  for (const std::string& line : splitLines(table)) {
    double value = 0.0;
    char number[32];
    EXPECT_EQ(std::sscanf(line.c_str(), "%lf", &value), 1) << line;
    std::snprintf(number, sizeof number, "%.10g", value * scale + shift);
    text += number + line.substr(line.find(',')) + "\n";
  }
  return text;
}

struct Figures {
  double call, put, seCall, sePut;
};

// The figures of a results file by "row path", its columns found by their header names.
std::map<std::string, Figures> figuresOf(const std::string& text) {
  const std::vector<std::string> lines = splitLines(text);
  std::map<std::string, Figures> figures;
  if (lines.empty()) return figures;
  auto fields = [](const std::string& line) {
    std::vector<std::string> cells(1);
    for (char c : line) {
      if (c == ',') cells.emplace_back();
      else cells.back().push_back(c);
    }
    return cells;
  };
  std::map<std::string, std::size_t> at;
  for (const std::string& name : fields(lines[0])) at.emplace(name, at.size());
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> cells = fields(lines[i]);
    auto number = [&](const char* name) {
      const std::string& cell = cells.at(at.at(name));
      return cell.empty() ? 0.0 : std::stod(cell);
    };
    EXPECT_TRUE(kPaths.count(cells.at(at.at("path")))) << lines[i];
    figures[cells.at(at.at("row")) + " " + cells.at(at.at("path"))] = {
        number("call"), number("put"), number("se_call"), number("se_put")};
  }
  return figures;
}

struct Verdict {
  int compared = 0;
  double maxAbsZ = 0.0;
  double meanZ2 = 0.0;
  std::string worst;  // where the largest |z| is
  bool passes() const { return maxAbsZ < 5.0 && meanZ2 <= 4.0; }
};

// Simulates the chain on `simulatedTable` (seed 7, with standard errors), values it exactly on
// `exactTable`, and measures each simulated call and put against its limit in standard errors.
std::optional<Verdict> compare(const std::string& simulatedTable, const std::string& exactTable) {
  TempDir dir;
  dir.write("Setup.txt", setup());
  dir.write("batch.csv", chain());
  dir.write("dist.csv", simulatedTable);
  const RunOutcome simulated = runIn(dir, {.arguments = {"--seed", "7", "--chain", "--std-errors",
                                                         "--results", "mc.csv", "--quiet"}});
  EXPECT_EQ(simulated.status, 0) << simulated.err;
  dir.write("dist.csv", exactTable);
  const RunOutcome exact =
      runIn(dir, {.arguments = {"--exact", "--chain", "--results", "exact.csv", "--quiet"}});
  EXPECT_EQ(exact.status, 0) << exact.err;
  if (simulated.status != 0 || exact.status != 0) return std::nullopt;
  const std::map<std::string, Figures> mc = figuresOf(dir.read("mc.csv"));
  const std::map<std::string, Figures> limits = figuresOf(dir.read("exact.csv"));
  EXPECT_EQ(mc.size(), 15u * kPaths.size());
  EXPECT_EQ(limits.size(), mc.size());
  Verdict verdict;
  double sum = 0.0;
  auto measure = [&](const std::string& where, double value, double limit, double se) {
    if (se == 0.0) return;  // a payoff that is always 0 has no spread to measure by
    const double z = (value - limit) / se;
    ++verdict.compared;
    sum += z * z;
    if (!(std::fabs(z) <= verdict.maxAbsZ)) {  // a NaN counts as the worst of all
      verdict.maxAbsZ = std::isnan(z) ? INFINITY : std::fabs(z);
      verdict.worst = where + " z=" + std::to_string(z);
    }
  };
  for (const auto& [key, m] : mc) {
    const auto limit = limits.find(key);
    EXPECT_NE(limit, limits.end()) << key;
    if (limit == limits.end()) continue;
    measure(key + " call", m.call, limit->second.call, m.seCall);
    measure(key + " put", m.put, limit->second.put, m.sePut);
  }
  verdict.meanZ2 = verdict.compared > 0 ? sum / verdict.compared : INFINITY;
  return verdict;
}

std::string bellTable() {
  return readFile(kSourceDir + "/bench/workloads/chain/dist.csv").value_or("");
}

// empricer-dist's risk-neutral table of the vendor history: skewed, with fat tails.
std::string historyTable() {
  TempDir dir;
  dir.write("Setup.txt", setup());
  dir.write("prices.csv", readFile(kSourceDir + "/examples/history/prices.csv").value_or(""));
  const RunOutcome built = runDistIn(dir, {"--session", "datetime", "--mean", "risk-neutral",
                                           "prices.csv"});
  EXPECT_EQ(built.status, 0) << built.err;
  return built.status == 0 ? dir.read("dist.csv") : "";
}

// Returns -0.004 to 0.004 per step with normal weights of deviation 0.0022, cut at the ends: a
// day's deviation near 3%, so the running price reaches the band of +-6.8% on about 4% of days.
std::string wideTable() {
  std::string text;
  for (int i = -100; i <= 100; ++i) {
    const double value = i * 0.00004;
    char line[48];
    std::snprintf(line, sizeof line, "%.5f,%d\n", value,
                  static_cast<int>(1000.0 * std::exp(-0.5 * std::pow(value / 0.0022, 2))));
    text += line;
  }
  return text;
}

TEST(ExactOracle, SimulationsLieWithinFiveStandardErrorsOfTheExactLimits) {
  // Each table with the least number of the 150 calls and puts that have a spread at all.
  const struct {
    const char* name;
    std::string table;
    int spread;
  } tables[] = {{"bell", bellTable(), 120},
                {"history", historyTable(), 120},
                {"wide", wideTable(), 120},
                // The history's steps a fifth as large: a minute bar's spread of about 2.3e-4,
                // under which the strikes far from 100 are never reached.
                {"minute", remapped(historyTable(), 0.2, 0.0), 95}};
  for (const auto& [name, table, spread] : tables) {
    ASSERT_GT(splitLines(table).size(), 100u) << name;
    const std::optional<Verdict> verdict = compare(table, table);
    ASSERT_TRUE(verdict) << name;
    EXPECT_GE(verdict->compared, spread) << name;
    EXPECT_LT(verdict->maxAbsZ, 5.0) << name << ": " << verdict->worst;
    EXPECT_LE(verdict->meanZ2, 4.0) << name;
  }
}

// Every return of the simulation's table 0.000002 higher (about a thousandth of a step's spread,
// a drift of 0.054 % a day) must not pass.
TEST(ExactOracle, ASmallBiasInTheDrawsFailsTheCheck) {
  const std::string table = bellTable();
  ASSERT_GT(splitLines(table).size(), 100u);
  const std::optional<Verdict> verdict = compare(remapped(table, 1.0, 0.000002), table);
  ASSERT_TRUE(verdict);
  EXPECT_GE(verdict->compared, 120);
  EXPECT_FALSE(verdict->passes()) << "max |z| " << verdict->maxAbsZ << ", mean z^2 "
                                  << verdict->meanZ2;
}

}  // namespace
