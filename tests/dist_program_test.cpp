// Whole runs of empricer-dist in a temporary directory: tables of known shapes checked through
// the valuation's own loader and draw table, sessions, the forms a price file may take, bad
// input, existing outputs and the command line; then histories of sessions: the day rescaled
// to 270 steps, the gaps between sessions, a chosen mean, a carry, the annualised volatility,
// and a risk-neutral table valued by empricer itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/table/draw_table.h"
#include "engine/table/return_table.h"
#include "picture_support.h"
#include "return_samples.h"
#include "run_support.h"

using namespace empricer;
using namespace std::string_literals;

namespace {

const std::string kTryHelp = "Try 'empricer-dist --help'.\n";

// A price file for `returns`: a header, then one price per line, starting at 100, with the
// prices written so that they read back exactly. `session` gives each line's session text.
struct PriceFile {
  std::string header = "date,close";
  char delimiter = ',';
  std::string lineEnd = "\n";
  std::string (*session)(std::size_t line) = [](std::size_t) { return std::string("2025-03-03"); };
};

std::string pricesText(const std::vector<double>& returns, const PriceFile& form = {}) {
  std::string text = form.header + form.lineEnd;
  double price = 100.0;
  for (std::size_t t = 0; t <= returns.size(); ++t) {
    if (t > 0) price *= 1.0 + returns[t - 1];
    char number[32];
    std::snprintf(number, sizeof number, "%.17g", price);
    text += form.session(t) + form.delimiter + number + form.lineEnd;
  }
  return text;
}

// The returns that the program computes from those prices.
std::vector<double> returnsOfPrices(const std::vector<double>& returns) {
  std::vector<double> result;
  double price = 100.0;
  for (const double r : returns) {
    const double next = price * (1.0 + r);
    result.push_back(next / price - 1.0);
    price = next;
  }
  return result;
}

// The text of the figure in the `column`-th place (0: data, 1: table, or with three columns
// 0: data, 1: target, 2: table) of the report line that starts with `label` and two blanks or
// more, as the report writes it.
std::string reportedText(const std::string& report, const std::string& label, int column) {
  for (const std::string& line : splitLines(report)) {
    if (line.rfind(label + "  ", 0) != 0) continue;
    std::size_t at = label.size();
    for (int skip = 0; skip <= column; ++skip) {
      at = line.find_first_not_of(' ', at);
      if (skip < column) at = line.find(' ', at);
    }
    return line.substr(at, line.find(' ', at) - at);
  }
  ADD_FAILURE() << "no line '" << label << "' in\n" << report;
  return "nan";
}

// The same figure as a number.
double reported(const std::string& report, const std::string& label, int column) {
  return std::stod(reportedText(report, label, column));
}

// Standard error less the warning of a band that cuts more than 1% of the history's days,
// which it must hold exactly when the report's share says so.
std::string withoutBandWarning(const std::string& err, const std::string& report) {
  const std::string start = "empricer-dist: warning: the band of 1/1.07 to 1.07 of a day's ";
  const std::size_t at = err.find(start);
  EXPECT_EQ(at != std::string::npos, reported(report, "days the band cuts", 0) > 0.01) << err;
  if (at == std::string::npos) return err;
  return err.substr(0, at) + err.substr(err.find('\n', at) + 1);
}

// The return that each generator output draws from the table file, as a valuation draws it.
std::vector<double> tableDraws(const TempDir& dir, const std::string& name) {
  auto table = std::make_unique<ReturnTable>();
  EXPECT_TRUE(loadReturnTable(*table, dir.file(name).c_str()).ok()) << name;
  auto draws = std::make_unique<DrawTable>();
  buildDrawTable(*table, static_cast<std::int32_t>(table->totalWeight), *draws);
  return std::vector<double>(draws->returnFor, draws->returnFor + kGeneratorOutputs);
}

TEST(DistProgram, TablesOfKnownShapesMeetTheBoundsThroughTheValuationsLoader) {
  for (const ReturnSample& sample : returnSamples(5400, 17)) {
    if (sample.name == "ticks") continue;  // prices do not keep exact tick returns
    TempDir dir;
    dir.write("prices.csv", pricesText(sample.returns));
    const RunOutcome run = runDistIn(dir, {"--plot", "picture.svg", "prices.csv"});
    ASSERT_EQ(run.status, 0) << sample.name << run.err;
    EXPECT_EQ(withoutBandWarning(run.err, run.out), "") << sample.name;

    // The valuation's loader reads the exact doubles of the text.
    auto table = std::make_unique<ReturnTable>();
    ASSERT_TRUE(loadReturnTable(*table, dir.file("dist.csv").c_str()).ok());
    const std::vector<std::string> lines = splitLines(dir.read("dist.csv"));
    ASSERT_EQ(static_cast<std::size_t>(table->rowCount), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      double written = 0.0;
      const std::string& line = lines[i];
      const auto parsed = std::from_chars(line.data(), line.data() + line.find(','), written);
      ASSERT_EQ(parsed.ec, std::errc()) << line;
      ASSERT_EQ(std::bit_cast<std::uint64_t>(table->returns[i]),
                std::bit_cast<std::uint64_t>(written)) << line;
    }

    // Every output's draw, as a valuation makes it, against the data.
    auto draws = std::make_unique<DrawTable>();
    buildDrawTable(*table, static_cast<std::int32_t>(table->totalWeight), *draws);
    const SampleMoments drawn = sampleMoments(draws->returnFor, kGeneratorOutputs);
    const SampleMoments data = sampleMoments(returnsOfPrices(sample.returns));
    EXPECT_LE(std::fabs(drawn.mean - data.mean), 0.01 * data.standardDeviation) << sample.name;
    EXPECT_NEAR(drawn.standardDeviation / data.standardDeviation, 1.0, 0.01) << sample.name;

    // The report gives the same figures; without sessions the target is the data itself.
    EXPECT_NEAR(reported(run.out, "mean", 0), data.mean, 1e-5 * data.standardDeviation);
    EXPECT_EQ(reported(run.out, "mean", 1), reported(run.out, "mean", 0));
    EXPECT_NEAR(reported(run.out, "mean", 2), drawn.mean, 1e-5 * data.standardDeviation);
    EXPECT_NEAR(reported(run.out, "standard deviation", 0) / data.standardDeviation, 1, 1e-5);
    EXPECT_NEAR(reported(run.out, "standard deviation", 2) / drawn.standardDeviation, 1, 1e-5);
    EXPECT_EQ(reported(run.out, "returns per day", 0), 270);
    EXPECT_EQ(reported(run.out, "scale factor", 0), 1);
    EXPECT_NEAR(reported(run.out, "daily standard deviation", 1) / drawn.standardDeviation,
                std::sqrt(270.0), 1e-4);
    EXPECT_EQ(reported(run.out, "returns", 0), 5400);
    EXPECT_EQ(reported(run.out, "table rows", 0), table->rowCount);

    // The picture says what its bars and its line are, and every text fits it.
    const std::string svg = dir.read("picture.svg");
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_NE(svg.find(">prices.csv: 5400 returns as steps of the table</text>"),
              std::string::npos);
    EXPECT_NE(svg.find(">bars: the target returns (the data's returns as steps of the table)<"),
              std::string::npos);
    EXPECT_NE(svg.find(">line: the table as empricer draws it (" +
                       std::to_string(table->rowCount) + " rows, 32768 equally likely draws)<"),
              std::string::npos);
    EXPECT_NE(svg.find(">target returns</text>"), std::string::npos);
    EXPECT_EQ(textsOutside(svg), std::vector<std::string>{}) << sample.name;
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"dist.csv", "picture.svg", "prices.csv"}));
  }
}

// A price file's path too long for the title: its name alone, and when that is too long too,
// its last characters; the title fits the picture either way.
TEST(DistProgram, ThePicturesTitleFitsWhateverThePricesPath) {
  const std::string prices = pricesText(returnSamples(600, 5)[0].returns);
  const std::string folder(60, 'f');
  const std::string longName = std::string(200, 'n') + ".csv";
  for (const auto& [path, shown] :
       {std::pair<std::string, std::string>{folder + "/prices.csv", ">prices.csv: 600 returns"},
        {longName, ">...nnnn"}}) {
    TempDir dir;
    std::filesystem::create_directory(dir.file(folder));
    dir.write(path, prices);
    const RunOutcome run = runDistIn(dir, {"--plot", "picture.svg", path});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string svg = dir.read("picture.svg");
    EXPECT_NE(svg.find(shown), std::string::npos) << path;
    EXPECT_NE(svg.find(".csv: 600 returns as steps of the table</text>"), std::string::npos);
    EXPECT_EQ(textsOutside(svg), std::vector<std::string>{}) << path;
  }
}

TEST(DistProgram, NoReturnCrossesASessionChange) {
  // Three sessions, each at twice the level of the one before.
  std::vector<double> returns = returnSamples(300, 23)[0].returns;
  returns[99] = 1.0;
  returns[199] = 1.0;
  PriceFile form;
  form.session = [](std::size_t line) { return "day" + std::to_string(line / 100); };
  TempDir dir;
  dir.write("prices.csv", pricesText(returns, form));

  const RunOutcome whole = runDistIn(dir, {"--allow-jumps", "--out", "whole.csv", "prices.csv"});
  ASSERT_EQ(whole.status, 0) << whole.err;
  EXPECT_EQ(reported(whole.out, "sessions", 0), 1);
  EXPECT_EQ(reported(whole.out, "returns", 0), 300);
  EXPECT_NEAR(reported(whole.out, "maximum", 0), 1.0, 1e-9);

  const RunOutcome split = runDistIn(dir, {"--allow-jumps", "--session", "DATE", "prices.csv"});
  ASSERT_EQ(split.status, 0) << split.err;
  // The one-price session counts for no length: no session is uneven, the history is short.
  EXPECT_EQ(split.err, "empricer-dist: warning: the history holds 4 sessions, fewer than 20, "
                       "and 297 returns, fewer than 500: a table made from so short a history "
                       "carries the volatility and the tails of those few days; a longer "
                       "history gives a steadier one\n");
  EXPECT_NE(split.out.find("sessions by DATE"), std::string::npos);
  EXPECT_EQ(reported(split.out, "prices", 0), 301);
  EXPECT_EQ(reported(split.out, "sessions", 0), 4);  // lines 0-99, 100-199, 200-299, 300
  EXPECT_EQ(reported(split.out, "returns", 0), 297);
  EXPECT_EQ(reported(split.out, "overnight gaps", 0), 3);
  EXPECT_NEAR(reported(split.out, "gap mean", 0), 2.0 / 3.0, 1e-3);  // two of 1, one near 0
  EXPECT_LT(reported(split.out, "maximum", 0), 0.01);
  EXPECT_LT(reported(split.out, "maximum", 2), 0.01);
}

TEST(DistProgram, EveryFormOfTheSameFileGivesTheSameTable) {
  const std::vector<double> returns = returnSamples(2000, 29)[1].returns;
  TempDir dir;
  dir.write("plain.csv", pricesText(returns));
  ASSERT_EQ(runDistIn(dir, {"--out", "plain.dist", "plain.csv"}).status, 0);
  const std::string expected = dir.read("plain.dist");

  PriceFile semicolons{"\"Date\" ; \"Open\" ; CLOSE", ';', "\r\n",
                       [](std::size_t line) { return std::string(line % 7 ? "" : "\r\n") + "x"; }};
  PriceFile tabs{"time\tClose", '\t', "\n",
                 [](std::size_t) { return std::string(150, 'd'); }};  // longer than 99 characters
  PriceFile named{"when,price,volume", ',', "\n", [](std::size_t) { return std::string("d"); }};
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> options;
  };
  std::string withOpen = pricesText(returns, semicolons);
  // "x;<price>" becomes "x ; 1 ; <price>", which quotes the open column and pads the fields.
  for (std::size_t at = withOpen.find("x;"); at != std::string::npos; at = withOpen.find("x;", at)) {
    withOpen.replace(at, 2, "x ; \"1;5\" ; ");
  }
  std::string withVolume = pricesText(returns, named);
  for (std::size_t at = withVolume.find('\n', withVolume.find('\n') + 1); at != std::string::npos;
       at = withVolume.find('\n', at + 3)) {
    withVolume.insert(at, ",7");
  }
  const Case cases[] = {
      {"semicolons, CR LF, quotes, blank lines", withOpen, {}},
      {"tabs and long lines", pricesText(returns, tabs), {}},
      {"a named column", withVolume, {"--column", "PRICE"}},
  };
  for (const Case& c : cases) {
    dir.write("form.csv", c.text);
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"--force", "--out", "form.dist", "form.csv"});
    const RunOutcome run = runDistIn(dir, args);
    ASSERT_EQ(run.status, 0) << c.name << ": " << run.err;
    EXPECT_EQ(dir.read("form.dist"), expected) << c.name;
  }
}

TEST(DistProgram, BadInputStopsWithOneLineAndLeavesEveryFileAsItWas) {
  const std::string good = "date,close\n1,100\n2,101\n3,100.5\n";
  const std::string sessions = "datetime,close\n11/5/2019 9:30,100\n11/5/2019 9:31,101\n"
                               "11/6/2019 9:30,102\n";
  const std::vector<std::string> riskNeutral{"--mean", "risk-neutral"};
  struct Case {
    const char* content;  // nullptr: no prices.csv; "/": a directory of that name
    std::vector<std::string> options;
    const char* message;
    const char* setup = nullptr;  // Setup.txt, when there is one
  };
  const Case cases[] = {
      {nullptr, {}, "prices.csv: cannot open: no such file"},
      {"/", {}, "prices.csv: cannot open: it is a directory"},
      {"", {}, "prices.csv: no header line"},
      {"\n  \n", {}, "prices.csv: no header line"},
      {good.c_str(), {"--column", "Price"},
       "prices.csv:1: no column named 'Price'; the columns are 'date', 'close'"},
      {good.c_str(), {"--session", "day"},
       "prices.csv:1: no session column named 'day'; the columns are 'date', 'close'"},
      {"close\n100\n101\n", {"--column", "last"},
       "prices.csv:1: no column named 'last'; the only column is 'close'"},
      {"c1,c2,c3,c4,c5,c6,c7,c8,c9,c10,c11,c12,c13,c14,c15,c16,c17,c18,c19,c20,c21,c22\n",
       {"--column", "close"},
       "prices.csv:1: no column named 'close'; the columns are 'c1', 'c2', 'c3', 'c4', 'c5', "
       "'c6', 'c7', 'c8', 'c9', 'c10', 'c11', 'c12', 'c13', 'c14', 'c15', 'c16', 'c17', 'c18', "
       "'c19', 'c20' and 2 more"},
      {"date,close\n1,100\n\n2,abc\n", {}, "prices.csv:4: field 2 (close): 'abc' is not a number"},
      {"date,close\n1,100\n2,101.5x\n", {}, "prices.csv:3: field 2 (close): '101.5x' is not a number"},
      {"date,close\n1,100\n2,\n", {}, "prices.csv:3: field 2 (close): '' is not a number"},
      {"date,close\n1,0\n", {}, "prices.csv:2: field 2 (close): '0' is not positive"},
      {"date,close\n1,100\n2,-3\n", {}, "prices.csv:3: field 2 (close): '-3' is not positive"},
      {"date,close\n1,100\n2,1e999\n", {}, "prices.csv:3: field 2 (close): '1e999' is not finite"},
      {"date,close\n1,1e-300\n2,1e300\n", {},
       "prices.csv:3: the return from the price on line 2 is not finite"},
      {"date,close\n1,100\n2\n", {}, "prices.csv:3: the line has 1 field, the header 2"},
      {"date,x,close\n1,100,1\n2,101\n", {"--session", "X"},
       "prices.csv:3: the line has 2 fields, the header 3"},
      {"date,close\n1,100\n2,101\n", {}, "prices.csv: 1 return from 2 prices in 1 session; at least 2 are needed"},
      {good.c_str(), {"--session", "date"},
       "prices.csv: 0 returns from 3 prices in 3 sessions; at least 2 are needed; each session "
       "holds one price, as daily closes do: they need no --session"},
      {"close\n100\n100\n100\n", {}, "prices.csv: all 2 returns are equal; the table needs returns that differ"},
      // Sessions keyed by their date leave one return.
      {sessions.c_str(), {"--session", "datetime"},
       "prices.csv: 1 return from 3 prices in 2 sessions; at least 2 are needed"},
      {"date,close\n1,1e-300\n1,1e-300\n2,1e300\n", {"--session", "date"},
       "prices.csv:4: the gap from the price on line 3 is not finite"},
      {good.c_str(), {"--returns-per-day", "1e-320"},
       "prices.csv: the returns scaled to 270 steps a day have no spread that a table can hold"},
      // The settings of a risk-neutral mean, read before the prices.
      {nullptr, riskNeutral, "Setup.txt: cannot open: no such file"},
      {good.c_str(), {"--mean", "risk-neutral", "--setup", "conf.txt"},
       "conf.txt: cannot open: no such file", "3 Rate 0.05\n4 Scale 1\n"},
      {good.c_str(), riskNeutral,
       "Setup.txt: no line for key 3 (the risk-free rate), which --mean risk-neutral needs",
       "2 Trajectories 10\n4 StepScale 1\n# 3 RiskFreeRate 0.05\n"},
      {good.c_str(), riskNeutral,
       "Setup.txt: no line for key 4 (the step scale), which --mean risk-neutral needs",
       "3 RiskFreeRate 0.05\n5 Shifts 1 1 1 1\n"},
      {good.c_str(), riskNeutral, "Setup.txt: keys 3 and 4 give no usable mean per step",
       "3 RiskFreeRate 0.05\n4 StepScale 0\n"},
      {good.c_str(), {"--mean", "risk-neutral", "--carry", "1e7"},
       "Setup.txt: keys 3 and 4 and --carry give no usable mean per step",
       "3 RiskFreeRate 0.05\n4 StepScale 1\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    dir.write("dist.csv", "0.5,1\n");  // an earlier table, to be left alone
    if (c.content != nullptr && std::string(c.content) == "/") {
      std::filesystem::create_directory(dir.file("prices.csv"));
    } else if (c.content != nullptr) {
      dir.write("prices.csv", c.content);
    }
    if (c.setup != nullptr) dir.write("Setup.txt", c.setup);
    const std::vector<std::string> before = dir.names();
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"--force", "--plot", "picture.svg", "prices.csv"});
    const RunOutcome run = runDistIn(dir, args);
    EXPECT_EQ(run.status, 2) << c.message;
    EXPECT_EQ(run.out, "") << c.message;
    EXPECT_EQ(run.err, "empricer-dist: " + std::string(c.message) + "\n");
    EXPECT_EQ(dir.names(), before) << c.message;
    EXPECT_EQ(dir.read("dist.csv"), "0.5,1\n") << c.message;
  }
}

TEST(DistProgram, DamagedHistoriesAreRefusedAtTheirLineOrReadAsPlainlyMeant) {
  // 1,563 prices; each reading below gives the table of this file with the same options.
  std::vector<double> returns = returnSamples(1562, 83)[0].returns;
  const std::string plain = pricesText(returns);
  std::string mixedEnds;
  // Each line end in turn; the last two leave a blank line.
  const char* const ends[] = {"\r", "\r\n", "\n", "\r\r", "\r\r\n"};
  std::size_t turn = 0;
  for (const std::string& line : splitLines(plain)) mixedEnds += line + ends[turn++ % 5];
  // Line 801, the 800th price, with a 0x1A byte after its first two digits.
  std::size_t line801 = 0;
  for (int line = 1; line < 801; ++line) line801 = plain.find('\n', line801) + 1;
  const std::string endMark = plain.substr(0, line801 + 13) + '\x1a' + plain.substr(line801 + 13);
  const std::string cutOff = "date,time,open,high,low,close,volume\n"
                             "2019-11-05,15:56,3084.1,3085.2,3083.9,3084.45,1200\n"
                             "2019-11-05,15:57,3084.45,3084.9,3083.7,3084.1,900\n"
                             "2019-11-05,15:58,3084.1,3084.6,3083.5,3083.8,1010\n"
                             "2019-11-05,15:59,3083.8,3084.4,3083.6,30";
  const std::string jump = "date,close\n1,100\n2,101\n";
  const auto withPrice = [&jump](const char* line) { return jump + line + "\n3,120\n4,121\n"; };
  const std::vector<std::string> allowJumps{"--allow-jumps"};
  const std::vector<std::string> byDate{"--session", "Date"};
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> options;
    std::string message;  // empty: read as the plain file with the same options
  };
  const Case cases[] = {
      {"a byte-order mark", "\xEF\xBB\xBF" + plain, byDate, ""},
      {"a 0x1A end mark as the last byte", plain + "\x1a", {}, ""},
      {"lone CR line ends", pricesText(returns, {.lineEnd = "\r"}), {}, ""},
      {"a mark, and lone CR, CR LF and LF mixed", "\xEF\xBB\xBF" + mixedEnds, byDate, ""},
      {"a 0x1A byte inside a line", endMark, {},
       "prices.csv:801: byte 14 of the line is 0x1A; a price file holds text only"},
      {"a 0 byte", "date,close\n1,100\n2,10\0" "1\n3,100.5\n"s, {},
       "prices.csv:3: byte 5 of the line is 0x00; a price file holds text only"},
      {"the last line cut off", cutOff, {}, "prices.csv:5: the line has 6 fields, the header 7"},
      {"a field more", "date,close\n1,100\n2,101,7\n3,100.5\n", {},
       "prices.csv:3: the line has 3 fields, the header 2"},
      {"a return above +100%", withPrice("9,252.5"), {},
       "prices.csv:4: the price is 2.5 times the one on line 3 (+150%), a move beyond +-50%: a "
       "split left unadjusted, a price in other units, or column 'close' is not the price; if "
       "the move is real, --allow-jumps keeps it"},
      {"a price a thousandth of the one before", withPrice("9,0.0505"), {},
       "prices.csv:4: the price is 0.0005 times the one on line 3 (-99.95%), a move beyond "
       "+-50%: a split left unadjusted, a price in other units, or column 'close' is not the "
       "price; if the move is real, --allow-jumps keeps it"},
      {"a price a thousand times the one before", withPrice("9,202000"), {},
       "prices.csv:4: the price is 2000 times the one on line 3 (+199900%), a move beyond "
       "+-50%: a split left unadjusted, a price in other units, or column 'close' is not the "
       "price; if the move is real, --allow-jumps keeps it"},
      {"a gap of a reverse split", "date,close\n1,100\n1,101\n2,303\n2,300\n2,301\n", byDate,
       "prices.csv:4: the price is 3 times the one on line 3 (+200%), as a 1-for-3 reverse "
       "split makes it: the history looks unadjusted for the split, or column 'close' is not "
       "the price; multiply the prices before line 4 by 3 to adjust them; if the move is real, "
       "--allow-jumps keeps it"},
      {"prices of 1e308, jumps allowed", "close\n1\n1e308\n1\n2\n", allowJumps,
       "prices.csv:3: the return from the price on line 2 is 1e+308, above 1e70 even with "
       "--allow-jumps"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    dir.write("prices.csv", c.text);
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"--plot", "picture.svg", "prices.csv"});
    const RunOutcome run = runDistIn(dir, args);
    if (!c.message.empty()) {
      EXPECT_EQ(run.status, 2) << c.name;
      EXPECT_EQ(run.out, "") << c.name;
      EXPECT_EQ(run.err, "empricer-dist: " + c.message + "\n") << c.name;
      EXPECT_EQ(dir.names(), std::vector<std::string>{"prices.csv"}) << c.name;
      continue;
    }
    EXPECT_EQ(run.status, 0) << c.name << ": " << run.err;
    if (run.status != 0) continue;
    dir.write("plain.csv", plain);
    std::vector<std::string> plainArgs = c.options;
    plainArgs.insert(plainArgs.end(), {"--out", "plain.dist", "plain.csv"});
    ASSERT_EQ(runDistIn(dir, plainArgs).status, 0) << c.name;
    EXPECT_EQ(dir.read("dist.csv"), dir.read("plain.dist")) << c.name;
    EXPECT_EQ(reported(run.out, "prices", 0), 1563) << c.name;
  }

  // A jump that is meant: refused, then taken with --allow-jumps as the largest return.
  returns[600] = 1.5;
  TempDir dir;
  dir.write("prices.csv", pricesText(returns));
  const RunOutcome refused = runDistIn(dir, {"prices.csv"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.err, "empricer-dist: prices.csv:603: the price is 2.5 times the one on "
                         "line 602 (+150%), a move beyond +-50%: a split left unadjusted, a "
                         "price in other units, or column 'close' is not the price; if the move "
                         "is real, --allow-jumps keeps it\n");
  const RunOutcome allowed = runDistIn(dir, {"--allow-jumps", "prices.csv"});
  ASSERT_EQ(allowed.status, 0) << allowed.err;
  EXPECT_NEAR(reported(allowed.out, "maximum", 0), 1.5, 1e-9);
  EXPECT_NEAR(reported(allowed.out, "maximum", 2), 1.5, 1e-9);
}

TEST(DistProgram, ExistingOutputsAreReplacedOnlyWithForce) {
  TempDir dir;
  dir.write("prices.csv", pricesText(returnSamples(500, 31)[0].returns));
  for (const char* existing : {"dist.csv", "picture.svg"}) {
    dir.write(existing, "kept\n");
    const RunOutcome refused = runDistIn(dir, {"--plot", "picture.svg", "prices.csv"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err,
              "empricer-dist: " + std::string(existing) + ": exists; use --force to overwrite it\n");
    EXPECT_EQ(dir.names(), (std::vector<std::string>{existing, "prices.csv"}));
    EXPECT_EQ(dir.read(existing), "kept\n");
    std::filesystem::remove(dir.file(existing));
  }
  dir.write("dist.csv", "kept\n");
  dir.write("picture.svg", "kept\n");
  const RunOutcome forced = runDistIn(dir, {"--force", "--plot", "picture.svg", "prices.csv"});
  ASSERT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"dist.csv", "picture.svg", "prices.csv"}));
  EXPECT_EQ(splitLines(dir.read("dist.csv")).size(),
            static_cast<std::size_t>(reported(forced.out, "table rows", 0)));
  EXPECT_EQ(dir.read("picture.svg").rfind("<?xml", 0), 0u);
}

TEST(DistProgram, AnOutputThatCannotBeWrittenGivesStatus1AndLeavesNothing) {
  TempDir dir;
  dir.write("prices.csv", pricesText(returnSamples(500, 43)[0].returns));
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--out", "missing/dist.csv", "prices.csv"},
        std::vector<std::string>{"--plot", "missing/picture.svg", "prices.csv"}}) {
    const RunOutcome run = runDistIn(dir, args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "empricer-dist: " + args[1] + ": cannot create: No such file or directory\n");
    EXPECT_EQ(dir.names(), std::vector<std::string>{"prices.csv"});
  }

  // With --force a folder in an output's place fails only when the files take their names:
  // the picture's after the table's, so the table that took its name gives the name back to
  // the earlier table, or goes when there was none.
  const std::pair<std::string, std::optional<std::string>> folders[] = {
      {"picture.svg", "0.5,1\n"}, {"picture.svg", std::nullopt}, {"dist.csv", std::nullopt}};
  for (const auto& [folder, earlier] : folders) {
    TempDir forced;
    forced.write("prices.csv", pricesText(returnSamples(500, 43)[0].returns));
    std::filesystem::create_directory(forced.file(folder));
    forced.write(folder + "/inside", "kept\n");
    if (earlier) forced.write("dist.csv", *earlier);
    const std::vector<std::string> before = forced.names();
    const RunOutcome run = runDistIn(forced, {"--force", "--plot", "picture.svg", "prices.csv"});
    EXPECT_EQ(run.status, 1) << folder;
    EXPECT_EQ(run.out, "") << folder;
    EXPECT_EQ(run.err, "empricer-dist: " + folder + ": cannot create: Is a directory\n");
    EXPECT_EQ(forced.names(), before) << folder;
    EXPECT_EQ(forced.read(folder + "/inside"), "kept\n");
    if (earlier) {
      EXPECT_EQ(forced.read("dist.csv"), *earlier);
    }
  }
}

// The mistakes both programs share are checked in command_line_test.cpp.
TEST(DistProgram, UsageErrorsNameTheProblemAndTouchNothing) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "missing price file"},
      {{"--max-rows=1", "prices.csv"}, "--max-rows takes a whole number from 2 to 5000, not '1'"},
      {{"--max-rows", "5001", "prices.csv"},
       "--max-rows takes a whole number from 2 to 5000, not '5001'"},
      {{"--max-rows=+9", "prices.csv"}, "--max-rows takes a whole number from 2 to 5000, not '+9'"},
      {{"--max-rows", "99999999999", "prices.csv"},
       "--max-rows takes a whole number from 2 to 5000, not '99999999999'"},
      {{"--out=", "prices.csv"}, "option '--out' needs a non-empty value"},
      {{"prices.csv", "--column", ""}, "option '--column' needs a non-empty value"},
      {{"--max-rows=", "prices.csv"}, "option '--max-rows' needs a non-empty value"},
      {{"--plot", "same.csv", "--out=same.csv", "prices.csv"},
       "options '--plot' and '--out' name the same file 'same.csv'"},
      {{"--returns-per-day", "0", "prices.csv"},
       "--returns-per-day takes 'auto' or a number above 0, not '0'"},
      {{"--returns-per-day=-390", "prices.csv"},
       "--returns-per-day takes 'auto' or a number above 0, not '-390'"},
      {{"--returns-per-day=390 ", "prices.csv"},
       "--returns-per-day takes 'auto' or a number above 0, not '390 '"},
      {{"--returns-per-day=1e999", "prices.csv"},
       "--returns-per-day takes 'auto' or a number above 0, not '1e999'"},
      {{"--returns-per-day", "Auto", "prices.csv"},
       "--returns-per-day takes 'auto' or a number above 0, not 'Auto'"},
      {{"--mean", "risk_neutral", "prices.csv"},
       "--mean takes 'data', 'risk-neutral', 'canonical' or a number, not 'risk_neutral'"},
      {{"--mean=nan", "prices.csv"},
       "--mean takes 'data', 'risk-neutral', 'canonical' or a number, not 'nan'"},
      {{"--mean=0x1p-3", "prices.csv"},
       "--mean takes 'data', 'risk-neutral', 'canonical' or a number, not '0x1p-3'"},
      {{"--with-gaps", "prices.csv"}, "option '--with-gaps' needs '--session'"},
      {{"--setup", "Setup.txt", "--mean", "0", "prices.csv"},
       "option '--setup' needs '--mean risk-neutral', '--mean canonical', '--target-vol' or "
       "'--fit'"},
      {{"--carry", "0.02", "prices.csv"},
       "option '--carry' needs '--mean risk-neutral', '--mean canonical', '--target-vol' or "
       "'--fit': only those means have a rate to take the carry from"},
      {{"--target-vol", "0", "prices.csv"},
       "--target-vol takes an annualised volatility above 0, not '0'"},
      {{"--mean", "data", "--target-vol", "0.2", "prices.csv"},
       "options '--target-vol' and '--mean' both set the mean: '--target-vol' tilts onto the "
       "risk-neutral mean, as '--mean canonical' does"},
      {{"--mean", "risk-neutral", "--carry=2%", "prices.csv"}, "--carry takes a number, not '2%'"},
      {{"--trading-days", "0", "prices.csv"}, "--trading-days takes a number above 0, not '0'"},
  };
  for (const auto& [args, message] : cases) {
    TempDir dir;
    dir.write("prices.csv", "date,close\n1,100\n2,101\n3,100.5\n");
    const RunOutcome run = runDistIn(dir, args);
    EXPECT_EQ(run.status, 2) << message;
    EXPECT_EQ(run.out, "") << message;
    EXPECT_EQ(run.err, "empricer-dist: " + message + "\n" + kTryHelp);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"prices.csv"}) << message;
  }
}

TEST(DistProgram, OptionsInBothFormsAndAfterTheEndOfOptions) {
  TempDir dir;
  dir.write("--prices.csv", pricesText(returnSamples(800, 37)[2].returns));
  const RunOutcome joined = runDistIn(dir, {"--max-rows=40", "--out=t1.csv", "--", "--prices.csv"});
  ASSERT_EQ(joined.status, 0) << joined.err;
  const RunOutcome apart = runDistIn(dir, {"--max-rows", "40", "--out", "t2.csv", "--", "--prices.csv"});
  ASSERT_EQ(apart.status, 0) << apart.err;
  EXPECT_EQ(dir.read("t1.csv"), dir.read("t2.csv"));
  EXPECT_LE(splitLines(dir.read("t1.csv")).size(), 40u);
}

TEST(DistProgram, HelpAndVersion) {
  TempDir dir;
  const RunOutcome help = runDistIn(dir, {"prices.csv", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.out.rfind("Usage: empricer-dist [OPTION]... PRICES.csv\n", 0), 0u);
  for (const char* option : {"\n  --column NAME ", "\n  --session NAME ", "\n  --max-rows N ",
                             "\n  --out FILE ", "\n  --force ", "\n  --plot FILE.svg ",
                             "\n  --returns-per-day N|auto\n", "\n  --steps-per-day N|auto\n",
                             "\n  --with-gaps ",
                             "\n  --mean data|VALUE|risk-neutral|canonical\n", "\n  --setup FILE ",
                             "\n  --carry Q ", "\n  --trading-days N ",
                             "\n  --allow-jumps ", "\n  --help ", "\n  --version ",
                             "README.md"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  const RunOutcome version = runDistIn(dir, {"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("empricer-dist ") + EMPRICER_VERSION + "\n");
  EXPECT_TRUE(dir.names().empty());
}

TEST(DistProgram, TooFewRowsWriteTheBestTableAndWarnWithTheFiguresReached) {
  TempDir dir;
  dir.write("prices.csv", pricesText(returnSamples(5400, 41)[1].returns));
  const RunOutcome run = runDistIn(dir, {"--max-rows", "3", "prices.csv"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(splitLines(dir.read("dist.csv")).size(), 3u);
  const std::string prefix = "empricer-dist: warning: with at most 3 rows the table misses the "
                             "accuracy bounds: its mean differs from the target's by ";
  ASSERT_EQ(run.err.rfind(prefix, 0), 0u) << run.err;
  EXPECT_NE(run.err.find(" standard deviations (bound 0.01), its standard deviation by "),
            std::string::npos) << run.err;
  EXPECT_EQ(run.err.substr(run.err.size() - 12), " (bound 1%)\n");
  EXPECT_GT(std::fabs(reported(run.out, "standard deviation", 2) /
                          reported(run.out, "standard deviation", 1) - 1),
            0.01);
}

// A history of sessions of one-minute bars from 9:30: the prices of each session, and the
// returns and gaps between them worked out here from those prices, as the file's text gives
// them back (%.17g reads back as the same double). Each return is Student-t with 4 degrees of
// freedom, standard deviation `stepDeviation` and mean `drift`; the gap before each session
// after the first is normal with mean 0.002 and standard deviation `gapDeviation`.
struct History {
  std::vector<std::vector<double>> sessions;
  std::vector<double> returns;  // in session, in file order
  std::vector<double> gaps;
};

History makeHistory(const std::vector<int>& pricesPerSession, double stepDeviation,
                    double gapDeviation, double drift, unsigned seed) {
  std::mt19937_64 random(seed);
  std::student_t_distribution<double> student(4.0);
  std::normal_distribution<double> normal(0.0, 1.0);
  History history;
  double price = 1000.0;
  for (std::size_t s = 0; s < pricesPerSession.size(); ++s) {
    if (s > 0) {
      const double next = price * (1.0 + 0.002 + gapDeviation * normal(random));
      history.gaps.push_back(next / price - 1.0);
      price = next;
    }
    std::vector<double> prices{price};
    for (int bar = 1; bar < pricesPerSession[s]; ++bar) {
      const double next = price * (1.0 + drift + stepDeviation / std::sqrt(2.0) * student(random));
      history.returns.push_back(next / price - 1.0);
      price = next;
      prices.push_back(price);
    }
    history.sessions.push_back(prices);
  }
  return history;
}

// The session fields of a line: session s is on day s + 1 of November 2019, bar b at 9:30 + b.
using Stamp = std::string (*)(int day, int hour, int minute);

std::string historyText(const History& history, const std::string& header, Stamp stamp) {
  std::string text = header + "\n";
  for (std::size_t s = 0; s < history.sessions.size(); ++s) {
    for (std::size_t bar = 0; bar < history.sessions[s].size(); ++bar) {
      const int minutes = 30 + static_cast<int>(bar);
      char line[96];
      std::snprintf(line, sizeof line, ",%.17g\n", history.sessions[s][bar]);
      text += stamp(static_cast<int>(s) + 1, 9 + minutes / 60, minutes % 60) + line;
    }
  }
  return text;
}

std::string printed(const char* format, int day, int hour, int minute) {
  char text[64];
  std::snprintf(text, sizeof text, format, day, hour, minute);
  return text;
}

// In the layouts that vendors export, and as a date column beside a time column.
const Stamp kUsStamp = [](int d, int h, int m) { return printed("11/%d/2019 %d:%02d", d, h, m); };
const Stamp kIsoStamp = [](int d, int h, int m) {
  return printed("2019-11-%02dT%02d:%02d:00Z", d, h, m);
};
const Stamp kBlankStamp = [](int d, int h, int m) {
  return printed("2019-11-%02d %02d:%02d:00", d, h, m);
};
const Stamp kDateTimeStamp = [](int d, int h, int m) {
  return printed("2019-11-%02d,%02d:%02d", d, h, m);
};
// A session number whose 'T' follows no digit: the whole text is the key.
const Stamp kSessionNumberStamp = [](int d, int h, int m) {
  return printed("T%02d,%02d:%02d", d, h, m);
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

TEST(DistHistory, SessionsByDateGiveTheTableTheDataDayInSessionOrCloseToClose) {
  // Eleven sessions of 391 prices (390 returns) and a half day; gaps as large as a day's move.
  std::vector<int> lengths(12, 391);
  lengths[5] = 211;
  const History history = makeHistory(lengths, 0.0005, 0.015, 1e-5, 53);
  const SampleMoments r = sampleMoments(history.returns);
  const SampleMoments g = sampleMoments(history.gaps);
  const double n = 390;
  const double inSession = r.standardDeviation * std::sqrt(n);
  const double closeToClose =
      std::sqrt(n * r.standardDeviation * r.standardDeviation +
                g.standardDeviation * g.standardDeviation);
  const std::string uneven =
      "empricer-dist: warning: 1 of 12 sessions hold more than 10% more or fewer returns than "
      "the median of 390 (from 210 to 390); each day of the table stands for a median one\n"
      "empricer-dist: warning: the history holds 12 sessions, fewer than 20: a table made from "
      "so short a history carries the volatility and the tails of those few days; a longer "
      "history gives a steadier one\n";

  // Every layout keys the same sessions, so every one gives the same table.
  struct Layout {
    const char* header;
    const char* column;
    Stamp stamp;
  };
  const Layout layouts[] = {{"datetime,close", "datetime", kUsStamp},
                            {"Time,close", "time", kIsoStamp},
                            {"when,close", "WHEN", kBlankStamp},
                            {"session,time,close", "session", kSessionNumberStamp},
                            {"date,time,close", "date", kDateTimeStamp}};
  TempDir dir;
  std::string first;
  for (const Layout& layout : layouts) {
    dir.write("prices.csv", historyText(history, layout.header, layout.stamp));
    const RunOutcome run = runDistIn(dir, {"--force", "--session", layout.column, "prices.csv"});
    ASSERT_EQ(run.status, 0) << layout.header << run.err;
    EXPECT_EQ(run.err, uneven) << layout.header;
    if (first.empty()) first = dir.read("dist.csv");
    EXPECT_EQ(dir.read("dist.csv"), first) << layout.header;
    EXPECT_EQ(reported(run.out, "sessions", 0), 12) << layout.header;
    EXPECT_EQ(reported(run.out, "returns", 0), static_cast<double>(history.returns.size()));
    EXPECT_EQ(reported(run.out, "overnight gaps", 0), 11) << layout.header;
    EXPECT_EQ(reported(run.out, "returns per day", 0), n) << layout.header;
  }

  // The last layout's file: the day in session, then close to close.
  for (const bool withGaps : {false, true}) {
    std::vector<std::string> args{"--force", "--steps-per-day", "270", "--session", "date",
                                  "prices.csv"};
    if (withGaps) args.insert(args.begin(), "--with-gaps");
    const RunOutcome run = runDistIn(dir, args);
    ASSERT_EQ(run.status, 0) << run.err;
    const SampleMoments drawn = sampleMoments(tableDraws(dir, "dist.csv"));
    const double day = std::sqrt(270.0) * drawn.standardDeviation;
    const double wanted = withGaps ? closeToClose : inSession;
    const double dailyMean = n * r.mean + (withGaps ? g.mean : 0.0);
    const std::string label = withGaps ? "close to close" : "in session";
    EXPECT_NEAR(day / wanted, 1.0, 1e-3) << label;
    EXPECT_NEAR(270 * drawn.mean, dailyMean, 2e-3 * wanted) << label;
    const double factor = std::sqrt(n / 270) * (withGaps ? closeToClose / inSession : 1.0);
    EXPECT_NEAR(reported(run.out, "scale factor", 0) / factor, 1.0, 1e-5) << label;

    EXPECT_NEAR(reported(run.out, "gap mean", 0) / g.mean, 1.0, 1e-5);
    EXPECT_NEAR(reported(run.out, "gap standard deviation", 0) / g.standardDeviation, 1.0, 1e-5);
    EXPECT_NEAR(reported(run.out, "daily mean", 0) / (n * r.mean), 1.0, 1e-5);
    EXPECT_NEAR(reported(run.out, "daily mean", 1) / (n * r.mean + g.mean), 1.0, 1e-5);
    EXPECT_NEAR(reported(run.out, "daily mean", 2) / (270 * drawn.mean), 1.0, 1e-5);
    EXPECT_NEAR(reported(run.out, "daily standard deviation", 0) / inSession, 1.0, 1e-5);
    EXPECT_NEAR(reported(run.out, "daily standard deviation", 1) / closeToClose, 1.0, 1e-5);
    EXPECT_NEAR(reported(run.out, "daily standard deviation", 2) / day, 1.0, 1e-5);
  }
  EXPECT_GT(closeToClose / inSession, 1.3);  // the gaps matter: a table without them misses
}

TEST(DistHistory, TheDayHasTheDataDailyVarianceForAnyReturnsPerDay) {
  // Daily closes, and returns per day given, 270 among them: that one leaves the table as it is.
  const History daily = makeHistory({3001}, 0.01, 0.0, 4e-4, 59);
  const SampleMoments r = sampleMoments(daily.returns);
  TempDir dir;
  dir.write("prices.csv", historyText(daily, "date,time,close", kDateTimeStamp));
  ASSERT_EQ(runDistIn(dir, {"--out", "auto.csv", "prices.csv"}).status, 0);
  for (const std::string given : {"1", "6.5", "270", "1000"}) {
    const double n = std::stod(given);
    const RunOutcome run = runDistIn(dir, {"--force", "--returns-per-day", given, "prices.csv"});
    ASSERT_EQ(run.status, 0) << given << run.err;
    const SampleMoments drawn = sampleMoments(tableDraws(dir, "dist.csv"));
    const double day = r.standardDeviation * std::sqrt(n);
    EXPECT_NEAR(std::sqrt(270.0) * drawn.standardDeviation / day, 1.0, 1e-3) << given;
    EXPECT_NEAR(270 * drawn.mean, n * r.mean, 2e-3 * day) << given;
    EXPECT_EQ(reported(run.out, "returns per day", 0), n);
    EXPECT_NEAR(reported(run.out, "scale factor", 0), std::sqrt(n / 270), 1e-5) << given;
    // The map is affine: the target keeps the data's shape.
    for (const char* moment : {"skewness", "excess kurtosis"}) {
      EXPECT_EQ(reported(run.out, moment, 1), reported(run.out, moment, 0)) << given << moment;
    }
    if (n == 270) {
      EXPECT_EQ(dir.read("dist.csv"), dir.read("auto.csv"));
    }
  }

  // Sessions of random lengths: the day is the median session, the sessions of one price
  // left out, and a warning names the sessions far from it.
  std::mt19937 random(61);
  std::uniform_int_distribution<int> length(20, 420);
  for (int round = 0; round < 8; ++round) {
    std::vector<int> lengths(static_cast<std::size_t>(3 + round));
    for (int& prices : lengths) prices = length(random);
    if (round % 3 == 1) lengths[1] = 1;
    const History history = makeHistory(lengths, 0.0005, 0.003, 1e-5, 67 + round);
    std::vector<double> held;
    for (const int prices : lengths) {
      if (prices > 1) held.push_back(prices - 1);
    }
    const double n = median(held);
    const auto uneven = std::count_if(held.begin(), held.end(), [n](double count) {
      return std::fabs(count - n) > 0.1 * n;
    });
    dir.write("prices.csv", historyText(history, "date,time,close", kDateTimeStamp));
    const RunOutcome run =
        runDistIn(dir, {"--force", "--steps-per-day", "270", "--session", "date", "prices.csv"});
    const std::string label = "round " + std::to_string(round);
    ASSERT_EQ(run.status, 0) << label << run.err;
    EXPECT_EQ(reported(run.out, "returns per day", 0), n) << label;
    const SampleMoments drawn = sampleMoments(tableDraws(dir, "dist.csv"));
    const double day = sampleMoments(history.returns).standardDeviation * std::sqrt(n);
    EXPECT_NEAR(std::sqrt(270.0) * drawn.standardDeviation / day, 1.0, 1e-3) << label;
    const std::string warning = "empricer-dist: warning: " + std::to_string(uneven) + " of " +
                                std::to_string(held.size()) + " sessions ";
    EXPECT_EQ(run.err.rfind(warning, 0), uneven > 0 ? 0u : std::string::npos) << run.err;
    if (uneven == 0) {
      EXPECT_EQ(run.err, "") << label;
    }
  }
}

// The risk-neutral mean per step of a settings file whose rate and step scale are `rate` and
// `stepScale`, worked out here from empricer's discount: 270 x days steps must grow by
// exp(days x rate x (1 / 270) / stepScale).
double riskNeutralTarget(double rate, double stepScale) {
  return std::expm1(rate * (1.0 / 270 / stepScale) / 270);
}

// Keys 3 and 4 as empricer reads them: the later line of a key wins, and a key of 3.7 is 3.
const SetupFile kRiskNeutralSetup{.runMode = "1",
                                  .trajectories = 20000,
                                  .rate = "0.05",
                                  .moreLines = "3.7 RiskFreeRate 2\n4 StepScale 2\n"};

const std::string kRateOf2 = "empricer-dist: warning: key 3 of Setup.txt, the rate, is 2: read as "
                            "2 a year, 200%; a rate of 2% is 0.02\n";

TEST(DistHistory, AChosenMeanIsDrawnWithinAMillionthOfADeviationAndTheShapeIsKept) {
  TempDir dir;
  dir.write("Setup.txt", setupText(kRiskNeutralSetup));
  for (const ReturnSample& sample : returnSamples(5400, 71)) {
    if (sample.name == "ticks") continue;
    dir.write("prices.csv", pricesText(sample.returns));
    ASSERT_EQ(runDistIn(dir, {"--force", "--out", "data.csv", "prices.csv"}).status, 0);
    std::vector<double> dataDraws = tableDraws(dir, "data.csv");
    std::sort(dataDraws.begin(), dataDraws.end());
    const double dataMean = sampleMoments(returnsOfPrices(sample.returns)).mean;

    for (const std::string mean : {"0", "-2e-5", "3e-4", "risk-neutral"}) {
      const std::string label = sample.name + " --mean " + mean;
      const RunOutcome run = runDistIn(dir, {"--force", "--mean", mean, "prices.csv"});
      ASSERT_EQ(run.status, 0) << label << run.err;
      // The settings' rate of 2 is taken at its word, with a warning.
      EXPECT_EQ(withoutBandWarning(run.err, run.out),
                mean == "risk-neutral" ? kRateOf2 : std::string()) << label;
      const double target = mean == "risk-neutral" ? riskNeutralTarget(2, 2) : std::stod(mean);
      std::vector<double> draws = tableDraws(dir, "dist.csv");
      const SampleMoments drawn = sampleMoments(draws);
      EXPECT_LE(std::fabs(drawn.mean - target), 1e-6 * drawn.standardDeviation) << label;
      // The report shows the target and the mean drawn, each to its six digits.
      EXPECT_NEAR(reported(run.out, "mean", 1), target, 1e-5 * std::fabs(target)) << label;
      EXPECT_NEAR(reported(run.out, "mean", 2), drawn.mean, 1e-5 * drawn.standardDeviation);
      EXPECT_NEAR(reported(run.out, "mean per step", 0), target, 1e-5 * std::fabs(target));
      // Every output draws what the data's table draws, moved by the change of mean, up to
      // the two tables' tubes of a thousandth of a deviation.
      std::sort(draws.begin(), draws.end());
      double worst = 0.0;
      for (std::size_t i = 0; i < draws.size(); ++i) {
        worst = std::max(worst, std::fabs(draws[i] - dataDraws[i] - (target - dataMean)));
      }
      EXPECT_LE(worst, 2.5e-3 * drawn.standardDeviation) << label;
    }
  }
}

TEST(DistHistory, ACarryIsTakenFromTheRateOfTheRiskNeutralMean) {
  TempDir dir;
  dir.write("Setup.txt", setupText(kRiskNeutralSetup));
  dir.write("prices.csv", pricesText(returnSamples(5400, 79)[1].returns));
  // The carry enters as rate - Q: the mean is the risk-neutral one of the rate less the carry.
  struct Case {
    std::vector<std::string> carry;
    double target;
    std::string how;  // how the report's mean per step was found
    std::string warning;  // of the carry's size
  };
  const Case cases[] = {
      {{}, riskNeutralTarget(2, 2), "risk-neutral: Setup.txt, rate 2, step scale 2", ""},
      {{"--carry", "0.75"}, riskNeutralTarget(2 - 0.75, 2),
       "risk-neutral: Setup.txt, rate 2, carry 0.75, step scale 2",
       "empricer-dist: warning: --carry is 0.75: read as 0.75 a year, 75%; a carry of 0.75% is "
       "0.0075\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"--force", "--mean", "risk-neutral"};
    args.insert(args.end(), c.carry.begin(), c.carry.end());
    args.push_back("prices.csv");
    const RunOutcome run = runDistIn(dir, args);
    ASSERT_EQ(run.status, 0) << c.how << run.err;
    EXPECT_EQ(withoutBandWarning(run.err, run.out), kRateOf2 + c.warning) << c.how;
    const SampleMoments drawn = sampleMoments(tableDraws(dir, "dist.csv"));
    EXPECT_LE(std::fabs(drawn.mean - c.target), 1e-6 * drawn.standardDeviation) << c.how;
    EXPECT_NE(run.out.find(" (" + c.how + ")\n"), std::string::npos) << run.out;
  }
}

TEST(DistHistory, TheAnnualisedVolatilityIsEachDailyDeviationTimesTheRootOfTheTradingDays) {
  const History history = makeHistory(std::vector<int>(6, 391), 0.0005, 0.004, 1e-5, 89);
  TempDir dir;
  dir.write("prices.csv", historyText(history, "date,time,close", kDateTimeStamp));
  for (const std::string days : {"252", "365.25"}) {
    std::vector<std::string> args{"--force", "--session", "date", "prices.csv"};
    if (days != "252") args.insert(args.begin(), {"--trading-days", days});  // 252: the default
    const RunOutcome run = runDistIn(dir, args);
    ASSERT_EQ(run.status, 0) << days << run.err;
    // In session, close to close, and the table as drawn: each to its six digits.
    for (int column = 0; column < 3; ++column) {
      const double daily = reported(run.out, "daily standard deviation", column);
      EXPECT_NEAR(reported(run.out, "annualised volatility", column) /
                      (daily * std::sqrt(std::stod(days))),
                  1.0, 2e-5) << days << " column " << column;
    }
    const std::string note = " (daily x sqrt(" + days + " trading days))\n";
    EXPECT_NE(run.out.find(note), std::string::npos) << run.out;
  }
}

// What looks wrong in a history or in the options is told on standard error, and the table is
// written all the same: dates read without sessions, a short history, a mean per step larger
// than a step's spread. "{sd}" in a warning stands for the target's standard deviation as the
// report gives it.
TEST(DistHistory, WarningsTellWhatLooksWrongAndTheTableIsWrittenAllTheSame) {
  const History month = makeHistory(std::vector<int>(21, 31), 0.0005, 0.003, 1e-5, 97);
  const History week = makeHistory(std::vector<int>(5, 391), 0.0005, 0.003, 1e-5, 101);
  std::string daily = "date,close\n";
  for (int day = 0; day < 600; ++day) {
    daily += "20" + std::to_string(10 + day / 240) + "-" + std::to_string(1 + day / 20 % 12) +
             "-" + std::to_string(1 + day % 20) + "," + std::to_string(100 + day % 7) + "\n";
  }
  const std::string setup = "3 RiskFreeRate 0.05\n4 StepScale 1\n";
  const std::string shortHistory =
      ": a table made from so short a history carries the volatility and the tails of those few "
      "days; a longer history gives a steadier one\n";
  const std::vector<std::string> riskNeutral{"--session", "datetime", "--mean", "risk-neutral"};
  struct Case {
    const char* name;
    std::string prices;
    std::vector<std::string> options;
    std::string err;
  };
  const Case cases[] = {
      {"a date-and-time column without --session", historyText(month, "datetime,close", kUsStamp),
       {},
       "empricer-dist: warning: column 'datetime' holds 21 dates (11/1/2019 to 11/21/2019) and "
       "no --session is given, so the 20 moves from one date's last price to the next date's "
       "first count as returns; --session datetime keeps them apart as gaps\n"},
      {"the same with --session", historyText(month, "datetime,close", kUsStamp),
       {"--session", "datetime"}, ""},
      {"a date column beside a time column",
       historyText(month, "date,time,close", kDateTimeStamp), {},
       "empricer-dist: warning: column 'date' holds 21 dates (2019-11-01 to 2019-11-21) and no "
       "--session is given, so the 20 moves from one date's last price to the next date's first "
       "count as returns; --session date keeps them apart as gaps\n"},
      {"session numbers are not dates", historyText(month, "session,time,close",
                                                    kSessionNumberStamp), {}, ""},
      {"daily closes, a date to each", daily, {}, ""},
      {"five sessions", historyText(week, "datetime,close", kIsoStamp), {"--session", "datetime"},
       "empricer-dist: warning: the history holds 5 sessions, fewer than 20" + shortHistory},
      {"five dates without --session", historyText(week, "datetime,close", kIsoStamp), {},
       "empricer-dist: warning: column 'datetime' holds 5 dates (2019-11-01 to 2019-11-05) and "
       "no --session is given, so the 4 moves from one date's last price to the next date's "
       "first count as returns; --session datetime keeps them apart as gaps\n"
       "empricer-dist: warning: the history holds 5 dates, fewer than 20" + shortHistory},
      {"300 returns", pricesText(returnSamples(300, 103)[0].returns), {},
       "empricer-dist: warning: the history holds 300 returns, fewer than 500" + shortHistory},
      {"a carry in the wrong units", historyText(month, "datetime,close", kUsStamp),
       {"--carry", "1000"},
       "empricer-dist: warning: the mean per step, -0.116135 (risk-neutral: Setup.txt, rate "
       "0.05, carry 1000, step scale 1), is larger in size than a step's standard deviation, "
       "{sd}: every path drifts further in a step than the returns spread it; the rate (key 3) "
       "and --carry are in the same units, and a step is 1/30 of a day\n"
       "empricer-dist: warning: --carry is 1000: read as 1000 a year, 100000%; a carry of 1000% "
       "is 10\n"},
      {"a carry of 2%", historyText(month, "datetime,close", kUsStamp), {"--carry", "0.02"}, ""},
      {"a mean of 1% a step", historyText(month, "datetime,close", kUsStamp),
       {"--session", "datetime", "--mean", "0.01"},
       "empricer-dist: warning: the mean per step, 0.01 (given), is larger in size than a "
       "step's standard deviation, {sd}: every path drifts further in a step than the returns "
       "spread it; --mean gives the mean of one step, 1/30 of a day\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    dir.write("prices.csv", c.prices);
    dir.write("Setup.txt", setup);
    std::vector<std::string> args = c.options;
    if (!c.options.empty() && c.options[0] == "--carry") {
      args.insert(args.begin(), riskNeutral.begin(), riskNeutral.end());
    }
    args.push_back("prices.csv");
    const RunOutcome run = runDistIn(dir, args);
    ASSERT_EQ(run.status, 0) << c.name << ": " << run.err;
    std::string err = c.err;
    if (const std::size_t at = err.find("{sd}"); at != std::string::npos) {
      err.replace(at, 4, reportedText(run.out, "standard deviation", 1));
    }
    EXPECT_EQ(run.err, err) << c.name;
    EXPECT_TRUE(dir.exists("dist.csv")) << c.name;
    EXPECT_EQ(reported(run.out, "table rows", 0), splitLines(dir.read("dist.csv")).size())
        << c.name;
  }
}

// The base path's call and put values and its spread, from a manual run's report.
struct BaseValues {
  double call = 0.0;
  double put = 0.0;
  double spread = 0.0;
};

BaseValues baseValues(const std::string& out) {
  const auto after = [&out](const std::string& label) {
    const std::size_t at = out.find("\n" + label);
    EXPECT_NE(at, std::string::npos) << label << " in\n" << out;
    return at == std::string::npos ? std::nan("") : std::stod(out.substr(at + 1 + label.size()));
  };
  return {after("Call Value = "), after("Put Value  = "), after("Stdev of S = ")};
}

TEST(DistHistory, ARiskNeutralTableValuesCallMinusPutAtTheForwardInEmpricer) {
  // Minute sessions of 390 returns with a strong drift of their own, which the data's mean
  // would carry into the valuation.
  const History history = makeHistory(std::vector<int>(8, 391), 0.0005, 0.004, -4e-5, 73);
  TempDir dir;
  dir.write("prices.csv", historyText(history, "datetime,close", kUsStamp));
  dir.write("Setup.txt", setupText(kRiskNeutralSetup));
  const double s0 = 100;
  const double strike = 95;
  const double days = 30;
  const double discount = std::pow(2.718281828459, -(days * 2 * (1.0 / 270 / 2)));
  const double parity = s0 - strike * discount;
  for (const char* mean : {"risk-neutral", "data"}) {
    const RunOutcome built =
        runDistIn(dir, {"--force", "--steps-per-day", "270", "--session", "datetime", "--mean",
                        mean, "prices.csv"});
    ASSERT_EQ(built.status, 0) << built.err;
    EXPECT_EQ(reported(built.out, "returns per day", 0), 390);
    const RunOutcome valued = runIn(dir, {.input = "100\n95\n30\n", .clock = kStillClock});
    ASSERT_EQ(valued.status, 0) << valued.err;
    EXPECT_EQ(valued.out.rfind(bannerText("2", 20000), 0), 0u) << valued.out;
    const BaseValues base = baseValues(valued.out);
    const double standardError = discount * base.spread / std::sqrt(20000.0);
    const double miss = std::fabs(base.call - base.put - parity) / standardError;
    if (std::string(mean) == "risk-neutral") {
      EXPECT_LE(miss, 3.0) << "call " << base.call << " put " << base.put;
    } else {
      EXPECT_GT(miss, 30.0) << "call " << base.call << " put " << base.put;
    }
  }
}

// The table's day of 270 steps, asked for by --steps-per-day 270, is the table and the report of
// the same command line without it wherever the day was already 270 steps, and the table of
// --returns-per-day alone: on sessions of 270 returns and of 390, with the data's mean, the
// risk-neutral one and the gaps, and on a file without dates.
TEST(DistSteps, TwoHundredSeventyStepsADayGiveTheTableAndTheReportOfEarlierVersions) {
  TempDir dir;
  dir.write("Setup.txt", "3 RiskFreeRate 0.05\n4 StepScale 1\n");
  const auto run = [&dir](std::vector<std::string> args) {
    args.insert(args.end(), {"--force", "prices.csv"});
    const RunOutcome outcome = runDistIn(dir, args);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    return std::make_pair(outcome.out, dir.read("dist.csv"));
  };
  const std::vector<std::vector<std::string>> means = {
      {}, {"--mean", "risk-neutral"}, {"--with-gaps"}, {"--mean", "canonical"}};
  for (const int prices : {271, 391}) {
    const History history = makeHistory(std::vector<int>(21, prices), 0.0005, 0.004, 2e-5, 107);
    dir.write("prices.csv", historyText(history, "datetime,close", kIsoStamp));
    const std::string perDay = std::to_string(prices - 1);
    for (std::vector<std::string> args : means) {
      const std::string label = perDay + " returns a session " +
                                (args.empty() ? std::string("data") : args.back());
      args.insert(args.begin(), {"--session", "datetime"});
      std::vector<std::string> given = args;
      given.insert(given.end(), {"--returns-per-day", perDay});
      std::vector<std::string> steps = given;
      steps.insert(steps.end(), {"--steps-per-day", "270"});
      const auto earlier = run(given);
      EXPECT_EQ(run(steps), earlier) << label;
      EXPECT_NE(earlier.first.find("\nsteps per day             270 (value the table with "
                                   "empricer --steps-per-day 270)\n"),
                std::string::npos) << label;
      std::vector<std::string> alone = args;
      alone.insert(alone.end(), {"--steps-per-day", "270"});
      const auto stepsAlone = run(alone);
      EXPECT_EQ(stepsAlone.second, earlier.second) << label;
      if (prices == 271 && args.size() == 2) {
        EXPECT_EQ(run(args), stepsAlone) << label;  // the default was 270 steps already
      }
    }
  }
  dir.write("prices.csv", pricesText(returnSamples(1200, 109)[1].returns,
                                     {.header = "n,close", .session = [](std::size_t line) {
                                        return std::to_string(line);
                                      }}));
  for (const std::vector<std::string>& args : means) {
    if (!args.empty() && args[0] == "--with-gaps") continue;
    const auto byDefault = run(args);
    std::vector<std::string> steps = args;
    steps.insert(steps.end(), {"--steps-per-day", "270"});
    EXPECT_EQ(run(steps), byDefault);
    std::vector<std::string> given = args;
    given.insert(given.end(), {"--returns-per-day", "270"});
    const auto returnsGiven = run(given);
    EXPECT_EQ(returnsGiven.second, byDefault.second);
    steps.insert(steps.end(), {"--returns-per-day", "270"});
    EXPECT_EQ(run(steps), returnsGiven);
    EXPECT_EQ(reported(byDefault.first, "steps per day", 0), 270);
  }
}

// Daily closes, a date to each, with fat tails (Student-t, 3 degrees of freedom, inside +-6%
// where the band never cuts): a day is one step, the table is made of the daily returns as they
// are, and its day has the history's spread and tails.
TEST(DistSteps, DailyClosesGiveOneStepADayWithTheHistorysTails) {
  std::mt19937_64 random(113);
  std::student_t_distribution<double> student(3.0);
  std::vector<double> returns;
  while (returns.size() < 2500) {
    const double r = 0.01 / std::sqrt(3.0) * student(random);
    if (std::fabs(r) < 0.06) returns.push_back(r);
  }
  PriceFile form;
  form.session = [](std::size_t line) {
    return printed("%d-%02d-%02d", 2000 + static_cast<int>(line / 240),
                   static_cast<int>(line / 20 % 12) + 1, static_cast<int>(line % 20) + 1);
  };
  TempDir dir;
  dir.write("prices.csv", pricesText(returns, form));
  const RunOutcome run = runDistIn(dir, {"prices.csv"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(reported(run.out, "steps per day", 0), 1) << run.out;
  EXPECT_EQ(reported(run.out, "returns per day", 0), 1);
  EXPECT_EQ(reported(run.out, "history's days", 0), 2500);
  EXPECT_NE(run.out.find("\nscale factor              1 (the returns as they are)\n"),
            std::string::npos) << run.out;
  const SampleMoments data = sampleMoments(returnsOfPrices(returns));
  const SampleMoments drawn = sampleMoments(tableDraws(dir, "dist.csv"));
  EXPECT_NEAR(drawn.standardDeviation / data.standardDeviation, 1.0, 0.01);
  for (const char* moment : {"mean", "standard deviation", "minimum", "maximum"}) {
    EXPECT_EQ(reportedText(run.out, moment, 1), reportedText(run.out, moment, 0)) << moment;
  }
  // The history's days are its returns; the table's day is one draw, which the band leaves.
  EXPECT_EQ(reportedText(run.out, "day standard deviation", 0),
            reportedText(run.out, "standard deviation", 0));
  EXPECT_EQ(reportedText(run.out, "day excess kurtosis", 0),
            reportedText(run.out, "excess kurtosis", 0));
  const double kurtosis = reported(run.out, "day excess kurtosis", 0);
  EXPECT_GT(kurtosis, 3.0);
  EXPECT_NEAR(reported(run.out, "day excess kurtosis", 1) / kurtosis, 1.0, 0.01) << run.out;
  EXPECT_NEAR(reported(run.out, "day standard deviation", 1) /
                  reported(run.out, "day standard deviation", 0), 1.0, 0.01);
  EXPECT_EQ(reported(run.out, "days held at the band", 0), 0);
  EXPECT_EQ(reported(run.out, "days held at the band", 1), 0);
}

// Minute bars of 390-bar sessions: a step each of the 389 returns within a session, and with
// --with-gaps one more for the gap; the table's day has the history's volatility either way.
TEST(DistSteps, MinuteSessionsGiveAStepABarAndTheHistorysDailyVolatility) {
  const History history = makeHistory(std::vector<int>(21, 390), 0.0005, 0.004, 1e-5, 127);
  TempDir dir;
  dir.write("prices.csv", historyText(history, "datetime,close", kIsoStamp));
  for (const bool withGaps : {false, true}) {
    std::vector<std::string> args{"--force", "--session", "datetime", "prices.csv"};
    if (withGaps) args.insert(args.begin(), "--with-gaps");
    const RunOutcome run = runDistIn(dir, args);
    ASSERT_EQ(run.status, 0) << run.err;
    const int steps = withGaps ? 390 : 389;
    EXPECT_NE(run.out.find("\nsteps per day             " + std::to_string(steps) +
                           " (value the table with empricer --steps-per-day " +
                           std::to_string(steps) + ")\n"),
              std::string::npos) << run.out;
    EXPECT_EQ(reported(run.out, "returns per day", 0), 389);
    EXPECT_EQ(reported(run.out, "history's days", 0), withGaps ? 20 : 21);
    if (!withGaps) {
      EXPECT_EQ(reportedText(run.out, "standard deviation", 1),
                reportedText(run.out, "standard deviation", 0));
    }
    // In session, or close to close with the gaps; the table's column is the last.
    const double data = reported(run.out, "annualised volatility", withGaps ? 1 : 0);
    const double table = reported(run.out, "annualised volatility", 2);
    EXPECT_NEAR(table / data, 1.0, 1e-3) << run.out;
    const SampleMoments drawn = sampleMoments(tableDraws(dir, "dist.csv"));
    EXPECT_NEAR(drawn.standardDeviation * std::sqrt(steps * 252.0) / data, 1.0, 1e-3);
  }
}

// Daily closes on consecutive calendar days from 2015-01-01: a return of 1% spread each day,
// inside +-3%, so that no move looks like a split and the band never cuts.
struct DailyCloses {
  std::vector<std::string> dates;
  std::vector<double> prices;
};

DailyCloses dailyCloses(std::size_t count, unsigned seed) {
  std::mt19937_64 random(seed);
  std::normal_distribution<double> normal(0.0, 0.01);
  DailyCloses daily;
  int y = 2015;
  int m = 1;
  int d = 1;
  double price = 100.0;
  for (std::size_t i = 0; i < count; ++i) {
    daily.dates.push_back(printed("%d-%02d-%02d", y, m, d));
    daily.prices.push_back(price);
    price *= 1.0 + std::clamp(normal(random), -0.03, 0.03);
    if (++d > 28) {
      d = 1;
      if (++m > 12) m = 1, ++y;
    }
  }
  return daily;
}

// The file of `daily`: the header, then each row as `row` writes it from its date and price.
std::string dailyText(const DailyCloses& daily, const std::string& header,
                      const std::function<std::string(const std::string&, const std::string&)>& row) {
  std::string text = header + "\n";
  for (std::size_t i = 0; i < daily.prices.size(); ++i) {
    char price[32];
    std::snprintf(price, sizeof price, "%.17g", daily.prices[i]);
    text += row(daily.dates[i], price) + "\n";
  }
  return text;
}

// Every entry of a folder: a file by its content, a symbolic link by where it leads.
std::map<std::string, std::string> folderState(const TempDir& dir) {
  std::map<std::string, std::string> state;
  for (const std::string& name : dir.names()) {
    const std::filesystem::path path = dir.file(name);
    state[name] = std::filesystem::is_symlink(path) ? "-> " + std::filesystem::read_symlink(path).string()
                                                     : dir.read(name);
  }
  return state;
}

TEST(DistHistoryReading, WhatTheHistorySaysOfItselfIsTakenOrItsContradictionRefused) {
  const DailyCloses daily = dailyCloses(700, 131);
  const auto closeRow = [](const std::string& date, const std::string& price) {
    return date + "," + price;
  };
  const std::string plain = dailyText(daily, "date,close", closeRow);
  // Prices from the 301st on (line 302) as an unadjusted split leaves them, the day's own move
  // 0.
  const auto splitBy = [&daily](double shares) {
    DailyCloses split = daily;
    split.prices[300] = split.prices[299];
    for (std::size_t i = 300; i < split.prices.size(); ++i) split.prices[i] /= shares;
    return split;
  };
  std::string newestFirst = "date,close\n";
  {
    const std::vector<std::string> lines = splitLines(plain);
    for (std::size_t i = lines.size() - 1; i > 0; --i) newestFirst += lines[i] + "\n";
  }
  // Line 203 repeats line 202; lines 102 and 103 trade places.
  const auto rowsOf = [&](const std::function<std::string(std::size_t, const std::string&)>& at) {
    std::string text = "date,close\n";
    const std::vector<std::string> lines = splitLines(plain);
    for (std::size_t i = 1; i < lines.size(); ++i) text += at(i, lines[i]);
    return text;
  };
  const std::vector<std::string> lines = splitLines(plain);
  const std::string repeated = rowsOf([&](std::size_t i, const std::string& line) {
    return line + "\n" + (i == 201 ? line + "\n" : "");
  });
  const std::string swapped = rowsOf([&](std::size_t i, const std::string& line) {
    return (i == 101 ? lines[102] : i == 102 ? lines[101] : line) + "\n";
  });
  std::string minutes = "datetime,close\n2019-11-05 09:30,100\n2019-11-05 09:31,100.1\n"
                        "2019-11-05 09:31,100.2\n2019-11-05 09:33,100.1\n";
  const std::string vendor = dailyText(daily, "Time,Open,High,Low,Last,Change,Volume",
                                       [](const std::string& date, const std::string& price) {
                                         return date + ",1,2,0.5," + price + ",0,1200";
                                       });
  const std::string counts = dailyText(daily, "Time,Volume,Open Interest",
                                       [](const std::string& date, const std::string& price) {
                                         return date + "," + price + ",7";
                                       });
  const std::string splitTail = ", as a {split} makes it: the history looks unadjusted for the "
                                "split, or column 'close' is not the price; divide the prices "
                                "before line 302 by {n} to adjust them; if the move is real, "
                                "--allow-jumps keeps it\n";
  const std::string orderTail = "; the prices must be in time order, each time once\n";
  // The split's message: `head`, then the tail with the split and its factor put in, built by
  // appends (GCC 12 warns falsely of overlapping copies in replace and insert here).
  const auto splitMessage = [&splitTail](const char* head, const char* split, const char* n) {
    const std::size_t at = splitTail.find("{split}");
    const std::size_t factor = splitTail.find("{n}");
    std::string text(head);
    text.append(splitTail, 0, at);
    text.append(split);
    text.append(splitTail, at + 7, factor - (at + 7));
    text.append(n);
    text.append(splitTail, factor + 3, std::string::npos);
    return text;
  };
  struct Case {
    const char* name;
    std::string prices;
    std::vector<std::string> options;
    int status;
    std::string err;                   // standard error, exactly
    const char* made = "dist.csv";     // the file made; nullptr: none
    bool samePlainTable = false;       // the table of the plain daily closes
    const char* link = nullptr;        // dist.csv is a symbolic link to this, holding "kept\n"
  };
  const Case cases[] = {
      {"daily closes", plain, {}, 0, "", "dist.csv", true},
      {"a 2-for-1 split left in", dailyText(splitBy(2), "date,close", closeRow), {}, 2,
       splitMessage("empricer-dist: prices.csv:302: the price is 0.5 times the one on line 301 "
                    "(-50%)",
                    "2-for-1 split", "2"),
       nullptr},
      {"a 7-for-1 split left in", dailyText(splitBy(7), "date,close", closeRow), {}, 2,
       splitMessage("empricer-dist: prices.csv:302: the price is 0.142857 times the one on line "
                    "301 (-85.7143%)",
                    "7-for-1 split", "7"),
       nullptr},
      {"a split taken as real", dailyText(splitBy(2), "date,close", closeRow),
       {"--allow-jumps"}, 0, ""},
      {"no close column: the last price", vendor, {}, 0,
       "empricer-dist: note: the price is column 'Last' (no column is named close)\n", "dist.csv",
       true},
      {"no price column", counts, {}, 2,
       "empricer-dist: prices.csv:1: no price column: none is named close, last, price or adj "
       "close; the columns are 'Time', 'Volume', 'Open Interest'; --column names the price "
       "column\n",
       nullptr},
      {"volumes named as the price", counts, {"--column", "volume"}, 2,
       "empricer-dist: prices.csv:1: column 'Volume' holds volumes, not prices; --column names "
       "the price column; the columns are 'Time', 'Volume', 'Open Interest'\n",
       nullptr},
      {"newest first", newestFirst, {}, 0,
       "empricer-dist: note: prices.csv runs newest first, from " + daily.dates.back() +
           " on line 2 to 2015-01-01 on line 701; its prices are read oldest first\n",
       "dist.csv", true},
      {"a date repeated", repeated, {}, 2,
       "empricer-dist: prices.csv:203: the date " + daily.dates[200] +
           " repeats the one on line 202, where the other dates hold one price each" + orderTail,
       nullptr},
      {"dates out of order", swapped, {}, 2,
       "empricer-dist: prices.csv:103: the date " + daily.dates[100] + " comes before " +
           daily.dates[101] + " on line 102, though the file runs oldest first" + orderTail,
       nullptr},
      {"a minute repeated", minutes, {}, 2,
       "empricer-dist: prices.csv:4: the time 2019-11-05 09:31 repeats the one on line 3" +
           orderTail,
       nullptr},
      {"daily closes read as minute bars", plain, {"--returns-per-day", "390"}, 2,
       "empricer-dist: prices.csv: the dates show one price a day (700 dates, 2015-01-01 to " +
           daily.dates.back() + "): daily closes, 1 return a day, but --returns-per-day 390 "
           "reads 390 of them as a day; leave it out (--steps-per-day T makes a day of T steps "
           "from the daily returns)\n",
       nullptr},
      {"a carry in percent", plain, {"--mean", "risk-neutral", "--carry", "1.8"}, 0,
       "empricer-dist: warning: --carry is 1.8: read as 1.8 a year, 180%; a carry of 1.8% is "
       "0.018\n"},
      {"a character device", plain, {"--out", "/dev/null"}, 0, "", nullptr},
      {"a symbolic link, even with --force", plain, {"--force"}, 2,
       "empricer-dist: dist.csv: is a symbolic link, which empricer-dist never replaces (not "
       "even with --force); name the file it leads to, or remove the link\n",
       nullptr, false, "elsewhere.csv"},
  };
  TempDir plainDir;
  plainDir.write("prices.csv", plain);
  ASSERT_EQ(runDistIn(plainDir, {"prices.csv"}).status, 0);
  const std::string plainTable = plainDir.read("dist.csv");
  for (const Case& c : cases) {
    TempDir dir;
    dir.write("prices.csv", c.prices);
    dir.write("Setup.txt", "3 RiskFreeRate 0.05\n4 StepScale 1\n");
    if (c.link != nullptr) {
      dir.write(c.link, "kept\n");
      std::filesystem::create_symlink(c.link, dir.file("dist.csv"));
    }
    std::map<std::string, std::string> before = folderState(dir);
    std::vector<std::string> args = c.options;
    args.push_back("prices.csv");
    const RunOutcome run = runDistIn(dir, args);
    EXPECT_EQ(run.status, c.status) << c.name;
    EXPECT_EQ(run.err, c.err) << c.name;
    EXPECT_EQ(run.out.empty(), c.status != 0) << c.name;
    std::map<std::string, std::string> after = folderState(dir);
    if (c.made != nullptr) {
      ASSERT_EQ(after.count(c.made), 1u) << c.name;
      if (c.samePlainTable) {
        EXPECT_EQ(after[c.made], plainTable) << c.name;
      }
      EXPECT_EQ(splitLines(after[c.made]).size(),
                static_cast<std::size_t>(reported(run.out, "table rows", 0))) << c.name;
      after.erase(c.made);
    }
    EXPECT_EQ(after, before) << c.name;
  }
}

}  // namespace
