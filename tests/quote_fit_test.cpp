// empricer-dist --fit QUOTES: a market made by `empricer --exact` from a tilted table is met
// inside every spread by a martingale no more tilted than the market's own table; quotes that
// no arbitrage-free table meets are refused before any table is written; quotes that this
// family cannot meet are listed outside, with a warning and status 0.
#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "engine/draw_table.h"
#include "engine/return_table.h"
#include "run_support.h"

namespace {

const std::string kSourceDir = EMPRICER_GOLDEN_DIR "/../..";

// The shipped minute history, its settings (rate 0.045, 252 days a year) and a carry.
void writeHistory(const TempDir& dir) {
  dir.write("prices.csv", readFile(kSourceDir + "/examples/history/prices.csv").value_or(""));
  dir.write("Setup.txt", readFile(kSourceDir + "/examples/quotes/Setup.txt").value_or(""));
}

// A column of a results file by "row path".
std::map<std::string, std::map<std::string, std::string>> resultsOf(const std::string& text) {
  std::map<std::string, std::map<std::string, std::string>> rows;
  const std::vector<std::string> lines = splitLines(text);
  if (lines.empty()) return rows;
  auto cells = [](const std::string& line) {
    std::vector<std::string> out(1);
    for (char c : line) {
      if (c == ',') out.emplace_back();
      else out.back().push_back(c);
    }
    return out;
  };
  const std::vector<std::string> names = cells(lines[0]);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> row = cells(lines[i]);
    std::map<std::string, std::string>& named = rows[row[0] + " " + row[1]];
    for (std::size_t c = 0; c < names.size() && c < row.size(); ++c) named[names[c]] = row[c];
  }
  return rows;
}

// The figure after `label` on the report's line that starts with it.
double reported(const std::string& report, const std::string& label) {
  for (const std::string& line : splitLines(report)) {
    if (line.rfind(label + "  ", 0) == 0) return std::stod(line.substr(label.size()));
  }
  ADD_FAILURE() << "no line '" << label << "' in\n" << report;
  return NAN;
}

// A market: `dist.csv` valued exactly on S0 1250, strikes 1175 to 1325, 5, 10 and 20 days,
// calls and puts quoted `half` either side of their exact values.
std::string marketOf(const TempDir& dir, double half,
                     const std::string& stepsPerDay) {
  std::string batch = "S0,K,Days\n";
  for (int days : {5, 10, 20}) {
    for (int strike = 1175; strike <= 1325; strike += 25) {
      batch += "1250," + std::to_string(strike) + "," + std::to_string(days) + "\n";
    }
  }
  dir.write("batch.csv", batch);
  const RunOutcome valued =
      runIn(dir, {.arguments = {"--steps-per-day", stepsPerDay, "--exact", "--quiet",
                                "--results", "exact.csv"}});
  EXPECT_EQ(valued.status, 0) << valued.err;
  std::string quotes = "S0,K,days,call_bid,call_ask,put_bid,put_ask\n";
  for (const auto& [key, row] : resultsOf(dir.read("exact.csv"))) {
    if (row.at("path") != "base") continue;
    const double call = std::stod(row.at("call"));
    const double put = std::stod(row.at("put"));
    char line[160];
    std::snprintf(line, sizeof line, "%s,%s,%s,%.4f,%.4f,%.4f,%.4f\n", row.at("S0").c_str(),
                  row.at("K").c_str(), row.at("days").c_str(), std::fmax(call - half, 0.0),
                  call + half, std::fmax(put - half, 0.0), put + half);
    quotes += line;
  }
  return quotes;
}

}  // namespace

TEST(QuoteFit, AMarketFromATiltedTableIsMetInsideEverySpreadWithNoMoreTilt) {
  TempDir dir;
  writeHistory(dir);
  const RunOutcome market = runDistIn(
      dir, {"--session", "datetime", "--carry", "0.015", "--target-vol", "0.22", "prices.csv"});
  ASSERT_EQ(market.status, 0) << market.err;
  const double marketEntropy = reported(market.out, "relative entropy");
  // Valued on the table's own day, a step a minute of the history.
  const std::string steps =
      std::to_string(static_cast<int>(reported(market.out, "steps per day")));
  EXPECT_EQ(steps, "389");
  dir.write("quotes.csv", marketOf(dir, 0.15, steps));

  const RunOutcome fit = runDistIn(dir, {"--force", "--session", "datetime", "--carry", "0.015",
                                         "--fit", "quotes.csv", "--out", "fitted.csv", "--plot",
                                         "day.svg", "prices.csv"});
  ASSERT_EQ(fit.status, 0) << fit.err;
  // The picture: a day of the history's table and of the fitted one, two lines.
  const std::string picture = dir.read("day.svg");
  EXPECT_NE(picture.find("a day of the history's table and of the fitted one"),
            std::string::npos);
  std::size_t lines = 0;
  for (std::size_t at = picture.find("<polyline"); at != std::string::npos;
       at = picture.find("<polyline", at + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, 2u);
  EXPECT_EQ(fit.err.find("outside their bid/ask"), std::string::npos) << fit.err;
  EXPECT_EQ(reported(fit.out, "inside"), 42.0) << fit.out;
  EXPECT_LE(reported(fit.out, "relative entropy"), marketEntropy);
  // A martingale: the drawn mean is the risk-neutral one, within 1e-6 standard deviations.
  const std::string said = "The table's mean differs from the target's by ";
  const std::size_t at = fit.out.find(said);
  ASSERT_NE(at, std::string::npos);
  EXPECT_LE(std::stod(fit.out.substr(at + said.size())), 1e-6);

  // One quote no measure on the history's paths meets is named and left out; the rest are
  // met as before.
  const std::string quotes = dir.read("quotes.csv");
  const std::int64_t line = std::count(quotes.begin(), quotes.end(), '\n') + 1;
  dir.write("reach.csv", quotes + "1250,1330,7,200,201,,\n");
  const RunOutcome reach = runDistIn(dir, {"--force", "--session", "datetime", "--carry", "0.015",
                                           "--fit", "reach.csv", "--out", "reach-dist.csv",
                                           "prices.csv"});
  ASSERT_EQ(reach.status, 0) << reach.err;
  EXPECT_EQ(reported(reach.out, "inside"), 42.0) << reach.out;
  EXPECT_NE(reach.err.find("1 quoted price is out of the paths' reach and left out of the fit "
                           "(lines " + std::to_string(line) + ")"),
            std::string::npos)
      << reach.err;
  EXPECT_NE(reach.out.find("reach.csv: line " + std::to_string(line) +
                           ": the call at K 1330, 7 days, bids 200, above the most"),
            std::string::npos)
      << reach.out;

  // The fitted table, valued by empricer itself, prices every quote inside its spread.
  dir.write("dist.csv", dir.read("fitted.csv"));
  const RunOutcome check =
      runIn(dir, {.arguments = {"--steps-per-day", steps, "--exact", "--quiet", "--results",
                                "check.csv", "--quotes", "quotes.csv"}});
  ASSERT_EQ(check.status, 0) << check.err;
  for (const auto& [key, row] : resultsOf(dir.read("check.csv"))) {
    if (row.at("path") != "base") continue;
    for (const char* side : {"call", "put"}) {
      const double value = std::stod(row.at(side));
      const double mid = std::stod(row.at(std::string("quote_") + side));
      EXPECT_LE(std::fabs(value - mid), 0.15 + 1e-6) << key << " " << side;
    }
  }
}

TEST(QuoteFit, QuotesNoArbitrageFreeTableMeetsAreRefusedBeforeAnyTable) {
  TempDir dir;
  writeHistory(dir);
  const std::string header = "S0,K,days,call_bid,call_ask,put_bid,put_ask\n";
  const struct {
    const char* lines;
    const char* says;
  } cases[] = {
      // A call dearer than a lower strike's.
      {"1250,1200,5,55,56,4,5\n1250,1225,5,57,58,10,11\n", "line 3: the call at K 1225 bids 57"},
      // A put cheaper than a lower strike's.
      {"1250,1200,5,55,56,12,13\n1250,1225,5,37,38,10,11\n", "line 2: the put at K 1200 bids 12"},
      // A butterfly that pays to hold, on uneven strikes.
      {"1250,1200,5,55,56,4,5\n1250,1225,5,47,48,9,10\n1250,1300,5,5,6,56,57\n",
       "line 3: a butterfly pays to hold"},
      // Asks below the discounted value on the forward.
      {"1250,1100,5,140,141,0,1\n", "line 2: the call asks 141, below its discounted value"},
      {"1250,1400,5,0,1,140,141\n", "line 2: the put asks 141, below its discounted value"},
      // Prices above their bounds, a bid above its ask, a negative price, NaN and inf.
      {"1250,1200,5,1300,1301,4,5\n", "line 2: "},
      {"1250,1200,5,56,55,4,5\n", "line 2: "},
      {"1250,1200,5,-1,55,4,5\n", "line 2: "},
      {"1250,1200,5,nan,55,4,5\n", "line 2: "},
      {"1250,1200,5,55,inf,4,5\n", "line 2: "},
  };
  for (const auto& c : cases) {
    dir.write("quotes.csv", header + c.lines);
    const RunOutcome run = runDistIn(
        dir, {"--session", "datetime", "--fit", "quotes.csv", "prices.csv"});
    EXPECT_EQ(run.status, 2) << c.lines << run.err;
    EXPECT_NE(run.err.find("quotes.csv: line"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << c.lines << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(dir.exists("dist.csv")) << c.lines;
  }
  // --fit sets the mean: --mean and --target-vol beside it are usage errors.
  for (const std::vector<std::string>& also : {std::vector<std::string>{"--mean", "canonical"},
                                               std::vector<std::string>{"--target-vol", "0.2"}}) {
    std::vector<std::string> arguments = {"--fit", "quotes.csv", "prices.csv"};
    arguments.insert(arguments.begin(), also.begin(), also.end());
    const RunOutcome run = runDistIn(dir, arguments);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find("both set the table"), std::string::npos) << run.err;
  }
}

// A market whose 5-day smile is far steeper than its 20-day one: one table of days of 270
// independent steps cannot carry both, and the quotes it misses are listed.
TEST(QuoteFit, QuotesTheFamilyCannotMeetAreListedOutside) {
  TempDir dir;
  writeHistory(dir);
  dir.write("quotes.csv",
            "S0,K,days,put_bid,put_ask\n"
            "1250,1150,5,6.0,6.2\n"
            "1250,1250,5,10.0,10.2\n"
            "1250,1150,20,0.5,0.6\n"
            "1250,1250,20,45.0,45.2\n");
  const RunOutcome run = runDistIn(
      dir, {"--session", "datetime", "--carry", "0.015", "--fit", "quotes.csv", "prices.csv"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_LT(reported(run.out, "inside"), 4.0);
  EXPECT_NE(run.err.find("quoted prices lie outside their bid/ask after the fit (lines"),
            std::string::npos)
      << run.err;
  EXPECT_TRUE(dir.exists("dist.csv"));
}
