// Market quotes beside the model (--quotes): matching, the edges and market volatilities, and
// the probabilities of profit, by simulation and exactly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "run_support.h"
#include "value_support.h"

namespace {

std::vector<std::string> fieldsOf(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  for (std::string field; std::getline(in, field, ',');) fields.push_back(field);
  if (!line.empty() && line.back() == ',') fields.emplace_back();
  return fields;
}

// The results file's lines, by row and path, each by column name.
using Line = std::map<std::string, std::string>;
std::map<std::string, Line> linesOf(const std::string& text) {
  const std::vector<std::string> lines = splitLines(text);
  const std::vector<std::string> names = fieldsOf(lines.at(0));
  std::map<std::string, Line> out;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> f = fieldsOf(lines[i]);
    Line line;
    for (std::size_t k = 0; k < names.size() && k < f.size(); ++k) line[names[k]] = f[k];
    out[f[0] + "," + f[1]] = line;
  }
  return out;
}

double normalCdf(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }

// Black's price of a call (put) on forward F at total volatility s, discounted by d.
double black(bool call, double d, double forward, double strike, double s) {
  const double d1 = std::log(forward / strike) / s + s / 2;
  const double d2 = d1 - s;
  return call ? d * (forward * normalCdf(d1) - strike * normalCdf(d2))
              : d * (strike * normalCdf(-d2) - forward * normalCdf(-d1));
}

struct QuotedRun {
  RunOutcome outcome;
  std::map<std::string, Line> results;
};

QuotedRun runQuoted(const std::vector<std::string>& method, const std::string& quotes) {
  TempDir dir;
  dir.write("Setup.txt", setupText({.runMode = "2", .trajectories = 2000, .rate = "0.05",
                                    .probabilities = true}));
  dir.write("dist.csv", bellDistribution(41, 0.004));
  dir.write("batch.csv", "S0,K,Days\n100,96,3\n100,100,3\n100,104,3\n100,100,5\n");
  dir.write("q.csv", quotes);
  std::vector<std::string> args = {"--quiet", "--results", "r.csv", "--quotes", "q.csv"};
  args.insert(args.end(), method.begin(), method.end());
  QuotedRun run{runIn(dir, {.arguments = args}), {}};
  if (dir.exists("r.csv")) run.results = linesOf(dir.read("r.csv"));
  return run;
}

// Mixed-case names in another order, semicolons and decimal commas, a bid/ask pair, a line
// for no row; each quoted row's base line carries the quote used, its edge, the market's
// volatility (which prices the quote back under Black at the row's forward and discount) and
// the probability of profit. A quote at the model's own value profits exactly as often as the
// model's winning probability says.
TEST(Quotes, MatchedRowsCarryEdgesVolatilitiesAndProbabilitiesOfProfit) {
  for (const std::vector<std::string>& method :
       {std::vector<std::string>{"--seed", "11", "--chain"}, std::vector<std::string>{"--exact"}}) {
    // A first run without quotes gives the model's own values; the quotes lie around them.
    const QuotedRun plain = runQuoted(method, "s0;k;DAYS\n");
    ASSERT_EQ(plain.outcome.status, 0) << plain.outcome.err;
    auto near = [&](const char* key, const char* side, double factor) {
      char text[32];
      std::snprintf(text, sizeof text, "%.4f", std::stod(plain.results.at(key).at(side)) * factor);
      std::string decimalComma = text;
      decimalComma[decimalComma.find('.')] = ',';
      return decimalComma;
    };
    const std::string quotes = "Days;K;S0;Call_Bid;call_ASK;Put;CALL\n"
                               "3;96;100;" + near("1,base", "call", 0.95) + ";" +
                               near("1,base", "call", 1.05) + ";;\n"
                               "3;100;100;;;" + near("2,base", "put", 1.1) + ";" +
                               plain.results.at("2,base").at("call") + "\n"
                               "3;104;100;;;" + near("3,base", "put", 1.02) + ";\n"
                               "7;100;100;1;2;3;\n";
    const QuotedRun run = runQuoted(method, quotes);
    ASSERT_EQ(run.outcome.status, 0) << run.outcome.err;
    EXPECT_NE(run.outcome.err.find("q.csv: 1 of 4 quotes matched no row; 1 of 4 rows had no "
                                   "quote"),
              std::string::npos)
        << run.outcome.err;
    const bool exact = method.front() == "--exact";
    for (const auto& [key, line] : run.results) {
      const bool quoted = key.back() == 'e' && key.front() != '4';  // rows 1 to 3, base path
      for (const char* name : {"quote_call", "quote_put", "edge_call", "pop_put"}) {
        if (!quoted) {
          EXPECT_TRUE(line.at(name).empty()) << key << " " << name;
        }
      }
      EXPECT_EQ(line.at("method"), exact ? "exact" : "simulation");
      EXPECT_EQ(line.at("seed"), exact ? "" : "11");
      if (!quoted) continue;
      const double strike = std::stod(line.at("K"));
      const double d = std::stod(line.at("discount"));
      const double forward = std::stod(line.at("forward"));
      const double s = std::sqrt(3.0 / 252.0);  // iv_year to the total volatility of 3 days
      for (const bool call : {true, false}) {
        const std::string side = call ? "call" : "put";
        if (line.at("quote_" + side).empty()) continue;
        const double quote = std::stod(line.at("quote_" + side));
        EXPECT_EQ(std::stod(line.at("edge_" + side)), std::stod(line.at(side)) - quote) << key;
        const double iv = std::stod(line.at("iv_market_" + side));
        EXPECT_NEAR(black(call, d, forward, strike, iv * s), quote, 1e-9) << key << side;
      }
      if (key == "1,base") {  // the mid of the bid and the ask
        auto number = [](std::string text) {
          text[text.find(',')] = '.';
          return std::stod(text);
        };
        EXPECT_EQ(std::stod(line.at("quote_call")),
                  (number(near("1,base", "call", 0.95)) + number(near("1,base", "call", 1.05))) / 2);
      }
      if (key == "2,base") {
        // The model's own call as the quote: the same threshold as the winning probability.
        const double pop = std::stod(line.at("pop_call"));
        const double win = std::stod(line.at("prob_call"));
        if (exact) {
          EXPECT_NEAR(pop, win, 1e-7);
        } else {
          EXPECT_EQ(pop, win);
        }
        EXPECT_GT(std::stod(line.at("pop_put")), 0.0);
      }
    }
    // A price above the model's profits less often than the model's own, one below more.
    const Line& third = run.results.at("3,base");
    const double pop = std::stod(third.at("pop_put"));
    const double win = std::stod(third.at("prob_put"));
    if (std::stod(third.at("edge_put")) < 0) {
      EXPECT_LE(pop, win);
    } else {
      EXPECT_GE(pop, win);
    }
  }
}

TEST(Quotes, AQuoteFileThatDoesNotReadStopsBeforeAnyResult) {
  for (const std::string& quotes : {std::string("S0,K\n100,100\n"), std::string("S0,K,days,call\n100,x,3,1\n")}) {
    const QuotedRun run = runQuoted({"--exact"}, quotes);
    EXPECT_EQ(run.outcome.status, 1);
    EXPECT_NE((run.outcome.out + run.outcome.err).find("Error reading file: q.csv"),
              std::string::npos)
        << run.outcome.out << run.outcome.err;
    EXPECT_TRUE(run.results.empty());
  }
}

}  // namespace
