// Whole runs of empricer-dist in a temporary directory: tables of known shapes checked through
// the valuation's own loader and draw table, sessions, the forms a price file may take, bad
// input, existing outputs and the command line.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/draw_table.h"
#include "engine/return_table.h"
#include "return_samples.h"
#include "run_support.h"

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

// The number in the `column`-th place (0: data, 1: table) of the report line that starts with
// `label` and two blanks or more.
double reported(const std::string& report, const std::string& label, int column) {
  for (const std::string& line : splitLines(report)) {
    if (line.rfind(label + "  ", 0) != 0) continue;
    std::size_t at = label.size();
    for (int skip = 0; skip <= column; ++skip) {
      at = line.find_first_not_of(' ', at);
      if (skip < column) at = line.find(' ', at);
    }
    return std::stod(line.substr(at, line.find(' ', at) - at));
  }
  ADD_FAILURE() << "no line '" << label << "' in\n" << report;
  return std::nan("");
}

TEST(DistProgram, TablesOfKnownShapesMeetTheBoundsThroughTheValuationsLoader) {
  for (const ReturnSample& sample : returnSamples(5400, 17)) {
    if (sample.name == "ticks") continue;  // prices do not keep exact tick returns
    TempDir dir;
    dir.write("prices.csv", pricesText(sample.returns));
    const RunOutcome run = runDistIn(dir, {"--plot", "picture.svg", "prices.csv"});
    ASSERT_EQ(run.status, 0) << sample.name << run.err;
    EXPECT_EQ(run.err, "") << sample.name;

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

    // The report gives the same figures.
    EXPECT_NEAR(reported(run.out, "mean", 0), data.mean, 1e-5 * data.standardDeviation);
    EXPECT_NEAR(reported(run.out, "mean", 1), drawn.mean, 1e-5 * data.standardDeviation);
    EXPECT_NEAR(reported(run.out, "standard deviation", 0) / data.standardDeviation, 1, 1e-5);
    EXPECT_NEAR(reported(run.out, "standard deviation", 1) / drawn.standardDeviation, 1, 1e-5);
    EXPECT_NEAR(reported(run.out, "daily standard deviation", 1) / drawn.standardDeviation,
                std::sqrt(270.0), 1e-4);
    EXPECT_EQ(reported(run.out, "returns", 0), 5400);
    EXPECT_EQ(reported(run.out, "table rows", 0), table->rowCount);

    const std::string svg = dir.read("picture.svg");
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_NE(svg.find(">prices.csv: 5400 returns per step</text>"), std::string::npos);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"dist.csv", "picture.svg", "prices.csv"}));
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

  const RunOutcome whole = runDistIn(dir, {"--out", "whole.csv", "prices.csv"});
  ASSERT_EQ(whole.status, 0) << whole.err;
  EXPECT_EQ(reported(whole.out, "sessions", 0), 1);
  EXPECT_EQ(reported(whole.out, "returns", 0), 300);
  EXPECT_NEAR(reported(whole.out, "maximum", 0), 1.0, 1e-9);

  const RunOutcome split = runDistIn(dir, {"--session", "DATE", "prices.csv"});
  ASSERT_EQ(split.status, 0) << split.err;
  EXPECT_NE(split.out.find("sessions by DATE"), std::string::npos);
  EXPECT_EQ(reported(split.out, "prices", 0), 301);
  EXPECT_EQ(reported(split.out, "sessions", 0), 4);  // lines 0-99, 100-199, 200-299, 300
  EXPECT_EQ(reported(split.out, "returns", 0), 297);
  EXPECT_LT(reported(split.out, "maximum", 0), 0.01);
  EXPECT_LT(reported(split.out, "maximum", 1), 0.01);
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
  struct Case {
    const char* content;  // nullptr: no prices.csv; "/": a directory of that name
    std::vector<std::string> options;
    const char* message;
  };
  const Case cases[] = {
      {nullptr, {}, "prices.csv: cannot open: no such file"},
      {"/", {}, "prices.csv: cannot open: it is a directory"},
      {"", {}, "prices.csv: no header line"},
      {"\n  \n", {}, "prices.csv: no header line"},
      {good.c_str(), {"--column", "Price"}, "prices.csv:1: no column named 'Price'"},
      {good.c_str(), {"--session", "day"}, "prices.csv:1: no session column named 'day'"},
      {"date,close\n1,100\n\n2,abc\n", {}, "prices.csv:4: field 2 (close): 'abc' is not a number"},
      {"date,close\n1,100\n2,101.5x\n", {}, "prices.csv:3: field 2 (close): '101.5x' is not a number"},
      {"date,close\n1,100\n2,\n", {}, "prices.csv:3: field 2 (close): '' is not a number"},
      {"date,close\n1,0\n", {}, "prices.csv:2: field 2 (close): '0' is not positive"},
      {"date,close\n1,100\n2,-3\n", {}, "prices.csv:3: field 2 (close): '-3' is not positive"},
      {"date,close\n1,100\n2,1e999\n", {}, "prices.csv:3: field 2 (close): '1e999' is not finite"},
      {"date,close\n1,1e-300\n2,1e300\n", {},
       "prices.csv:3: the return from the price on line 2 is not finite"},
      {"date,close\n1,100\n2\n", {}, "prices.csv:3: no field 2 (close): the line has 1 field"},
      {"date,x,close\n1,100,1\n2,101\n", {"--session", "X"},
       "prices.csv:3: no field 3 (close): the line has 2 fields"},
      {"date,close\n1,100\n2,101\n", {}, "prices.csv: 1 return from 2 prices in 1 session; at least 2 are needed"},
      {good.c_str(), {"--session", "date"},
       "prices.csv: 0 returns from 3 prices in 3 sessions; at least 2 are needed"},
      {"close\n100\n100\n100\n", {}, "prices.csv: all 2 returns are equal; the table needs returns that differ"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    dir.write("dist.csv", "0.5,1\n");  // an earlier table, to be left alone
    if (c.content != nullptr && std::string(c.content) == "/") {
      std::filesystem::create_directory(dir.file("prices.csv"));
    } else if (c.content != nullptr) {
      dir.write("prices.csv", c.content);
    }
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
                             "\n  --help ", "\n  --version ", "README.md"}) {
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
                             "accuracy bounds: its mean differs from the data's by ";
  ASSERT_EQ(run.err.rfind(prefix, 0), 0u) << run.err;
  EXPECT_NE(run.err.find(" standard deviations (bound 0.01), its standard deviation by "),
            std::string::npos) << run.err;
  EXPECT_EQ(run.err.substr(run.err.size() - 12), " (bound 1%)\n");
  EXPECT_GT(std::fabs(reported(run.out, "standard deviation", 1) /
                          reported(run.out, "standard deviation", 0) - 1),
            0.01);
}

}  // namespace
