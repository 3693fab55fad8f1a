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
  std::map<std::string, ResultsLine> results;
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
  if (dir.exists("r.csv")) run.results = resultsByLine(dir.read("r.csv"));
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
    const ResultsLine& third = run.results.at("3,base");
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

namespace {

// A batch of three rows beside a quote file, every input's bytes kept to compare after the
// run.
struct QuoteFolder {
  TempDir dir;
  std::map<std::string, std::string> inputs;

  explicit QuoteFolder(const std::string& quotes) {
    inputs["Setup.txt"] = setupText({.runMode = "2", .trajectories = 2000, .rate = "0.05"});
    inputs["dist.csv"] = bellDistribution(41, 0.004);
    inputs["batch.csv"] = "S0,K,Days\n100,96,3\n100,100,3\n100,104,3\n";
    inputs["q.csv"] = quotes;
    for (const auto& [name, text] : inputs) dir.write(name, text);
  }
  RunOutcome run(const std::string& quotesPath = "q.csv") const {
    return runIn(dir, {.arguments = {"--quiet", "--exact", "--results", "r.csv", "--plot",
                                     "smile.svg", "--quotes", quotesPath}});
  }
};

// A header, then a line of the quotes of row 2 (S0 100, K 100, 3 days) with `fields` as its
// call_bid, call_ask and put.
std::string quoteFile(const std::string& fields) {
  return "S0,K,days,call_bid,call_ask,put\n100,96,3,,,\n100,100,3," + fields + "\n";
}

}  // namespace

// A quote file that cannot be used is refused at its line with what was found there, as one
// line on standard error, before any file is written: every input stays as it was, an earlier
// Batch_Result.csv too, and neither the results file nor the picture is made.
TEST(Quotes, AQuoteFileThatCannotBeUsedIsRefusedAtItsLine) {
  // A file of equal lines after its header that goes on past 16 MiB, and the line of the byte
  // after the 16 MiB.
  const std::size_t most = std::size_t{16} << 20;
  const std::string bigLine = "100,100,3,,,\n";
  std::string tooBig = "S0,K,days,call_bid,call_ask,put\n";
  const std::size_t headerBytes = tooBig.size();
  while (tooBig.size() <= most) tooBig += bigLine;
  const std::size_t overLine = 2 + (most - headerBytes) / bigLine.size();
  struct Case {
    std::string text;
    std::string message;  // after "Error reading file: q.csv: "
    std::string path = "q.csv";
  };
  const Case cases[] = {
      {quoteFile(std::string("5") + '\0' + "5,6,7"), "line 3: a 0 byte at column 12"},
      {quoteFile("5,6\x1a,7"), "line 3: a 0x1A byte at column 14"},
      {quoteFile("5,6,7") + "\x1a\n", "line 4: a 0x1A byte at column 1"},
      {quoteFile("5,6,7" + std::string(5000, ' ')), "line 3: the line goes on past 4096 bytes"},
      {tooBig, "line " + std::to_string(overLine) +
                   ": the file goes on past 16777216 bytes, the most a quote file may hold"},
      {quoteFile("6,5,7"), "line 3: the call_bid '6' is above the call_ask '5'"},
      {quoteFile("5,6,-0.5"), "line 3: the put '-0.5' is negative"},
      {quoteFile("-1,6,7"), "line 3: the call_bid '-1' is negative"},
      {quoteFile("5,inf,7"), "line 3: 'inf' is not a finite number"},
      {quoteFile("5,6,nan"), "line 3: 'nan' is not a finite number"},
      {quoteFile("5,6,1e999"), "line 3: '1e999' is out of the range of a double"},
      {quoteFile("5,250,7"), "line 3: the call_ask '250' is above S0 '100'"},
      {quoteFile("5,6,100.5"), "line 3: the put '100.5' is above K '100'"},
      {quoteFile("5,6,3154.7o"), "line 3: '3154.7o' is not a number"},
      {quoteFile("5,6,+-7"), "line 3: '+-7' is not a number"},
      // Lone CRs end lines: the bad field is on line 4.
      {"S0,K,days,put\r100,96,3,1\r\r100,100,3,x\r", "line 4: 'x' is not a number"},
      {"\xEF\xBB\xBFS0,K,call\n100,96,1\n", "line 1: the header names no column days"},
      {"", "no header line"},
      {"", "line 1: a 0 byte at column 1", "/dev/zero"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const QuoteFolder folder(c.text);
    const std::string earlier = "an earlier run's rows\n";
    folder.dir.write("Batch_Result.csv", earlier);
    const std::vector<std::string> before = folder.dir.names();
    const RunOutcome run = folder.run(c.path);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Error reading file: " + c.path + ": " + c.message + "\n");
    EXPECT_EQ(run.out.find("Error"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Press any key"), std::string::npos) << run.out;
    EXPECT_EQ(folder.dir.names(), before);
    for (const auto& [name, text] : folder.inputs) EXPECT_EQ(folder.dir.read(name), text) << name;
    EXPECT_EQ(folder.dir.read("Batch_Result.csv"), earlier);
  }
}

TEST(Quotes, AQuoteFileThatCannotBeOpenedIsALineOnStandardError) {
  const QuoteFolder folder(quoteFile("5,6,7"));
  const RunOutcome run = folder.run("none.csv");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "Error opening file: none.csv\n");
  EXPECT_FALSE(folder.dir.exists("r.csv"));
}

// Lines ended by lone CRs, a byte-order mark and an end mark as the very last byte read as the
// same file with LF line ends: the same results, byte for byte.
TEST(Quotes, LoneCrLineEndsReadAsLineEnds) {
  const std::string lines[] = {"S0;K;days;call;put", "100;96;3;5,5;0,5", "", "100;100;3;2,5;2",
                               "100;104;3;0,5;4,5"};
  auto joined = [&](const std::string& end) {
    std::string text;
    for (const std::string& line : lines) text += line + end;
    return text;
  };
  const QuoteFolder plain(joined("\n"));
  const RunOutcome expected = plain.run();
  ASSERT_EQ(expected.status, 0) << expected.err;
  EXPECT_NE(expected.err.find("q.csv: 0 of 3 quotes matched no row; 0 of 3 rows had no quote\n"),
            std::string::npos)
      << expected.err;
  for (const std::string& text :
       {joined("\r"), joined("\r\n"), "\xEF\xBB\xBF" + joined("\r") + "\x1a",
        joined("\r").substr(0, joined("\r").size() - 1)}) {
    const QuoteFolder folder(text);
    const RunOutcome run = folder.run();
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, expected.err);
    EXPECT_EQ(folder.dir.read("r.csv"), plain.dir.read("r.csv"));
  }
}

// The report names the first five quote lines that matched no row (a line without a key among
// them) and the first five rows without a quote, with how many more.
TEST(Quotes, TheReportNamesUnmatchedLinesAndRows) {
  std::string quotes = "S0,K,days,call\n100,96,3,5\n,100,3,1\n";
  for (int days = 10; days < 15; ++days) quotes += "100,96," + std::to_string(days) + ",1\n";
  QuoteFolder folder(quotes);
  std::string batch = "S0,K,Days\n100,96,3\n";
  for (int k = 90; k < 97; ++k) batch += "100.5," + std::to_string(k) + ",2\n";
  folder.dir.write("batch.csv", batch);
  const RunOutcome run = folder.run();
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string expected =
      "empricer: q.csv: 6 of 7 quotes matched no row; 7 of 8 rows had no quote\n"
      "empricer: q.csv: quotes that matched no row: line 3 (no S0, K 100, days 3); line 4 (S0 "
      "100, K 96, days 10); line 5 (S0 100, K 96, days 11); line 6 (S0 100, K 96, days 12); "
      "line 7 (S0 100, K 96, days 13); and 1 more\n"
      "empricer: q.csv: rows that had no quote: (S0 100.5, K 90, days 2); (S0 100.5, K 91, "
      "days 2); (S0 100.5, K 92, days 2); (S0 100.5, K 93, days 2); (S0 100.5, K 94, days 2); "
      "and 2 more\n";
  EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
}
