// Whole runs of the real executable on faulty and hostile inputs: missing files, directories
// in their place, empty files, binary garbage, 0 and 0x1A bytes, very long lines, too many
// or no distribution rows, total weights out of range, an unwritable result file, a batch cut
// off part way, and standard input that ends or is closed. Each case checks the exact console
// text, the exit status and the files left behind.
//
// Most cases use a zero rate and a distribution whose every draw returns 0, so every price
// stays where it starts and every value is known exactly.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "run_support.h"


namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

const std::string kBanner = bannerText("0", 2);
const std::string kPrompts = "INPUTS:\nUnderlying Price: Strike Price: Time to Maturity (days): ";
const std::string kResultHeader = "S0,K,Call,Put,Stdev,ThetaC,ThetaP\n";
const std::string kDashes = "----------------------------------------\n";

// The manual report for spot 100 and strike 95 when no price moves and theta equals value
// (at most one day), without probabilities.
const std::string kFlatReport =
    "\nOUTPUT:\nCall Value = 5\nPut Value  = 0\nStdev of S = 0\nTheta: Call = 5; Put = 0\n\n"
    "DdelV OUTPUT 1: S0 = 102; Return = 1.02\n    Call Value = 7    Put Value = 0\n"
    "    Theta Call = 7    Theta Put = 0\n"
    "DdelV OUTPUT 2: S0 = 98; Return = 0.98\n    Call Value = 3    Put Value = 0\n"
    "    Theta Call = 3    Theta Put = 0\n"
    "DdelV OUTPUT 3: S0 = 101; Return = 1.01\n    Call Value = 6    Put Value = 0\n"
    "    Theta Call = 6    Theta Put = 0\n"
    "DdelV OUTPUT 4: S0 = 99; Return = 0.99\n    Call Value = 4    Put Value = 0\n"
    "    Theta Call = 4    Theta Put = 0\n"
    "Elapse time: 0 seconds.\n";

// The same valuation as a batch row "100,95,1": console echo and result lines.
const std::string kFlatRowConsole =
    "S0=102, K=95, Call=7, Put=0, Theta=7/0\nS0=98, K=95, Call=3, Put=0, Theta=3/0\n"
    "S0=100, K=95, Call=5, Put=0, Theta=5/0, and Stdev(S)=0\n"
    "S0=101, K=95, Call=6, Put=0, Theta=6/0\nS0=99, K=95, Call=4, Put=0, Theta=4/0\n"
    "Elapse time: 0 seconds.\n" + kDashes;
const std::string kFlatRowResults =
    "102,95,7,0,0,7,0\n98,95,3,0,0,3,0\n100,95,5,0,0,5,0\n101,95,6,0,0,6,0\n99,95,4,0,0,4,0\n";

// The row "100,95,days" for two days or more: nothing moves from the day before, so the
// thetas are 0.
const std::string kStillRowConsole =
    "S0=102, K=95, Call=7, Put=0, Theta=0/0\nS0=98, K=95, Call=3, Put=0, Theta=0/0\n"
    "S0=100, K=95, Call=5, Put=0, Theta=0/0, and Stdev(S)=0\n"
    "S0=101, K=95, Call=6, Put=0, Theta=0/0\nS0=99, K=95, Call=4, Put=0, Theta=0/0\n"
    "Elapse time: 0 seconds.\n" + kDashes;
const std::string kStillRowResults =
    "102,95,7,0,0,0,0\n98,95,3,0,0,0,0\n100,95,5,0,0,0,0\n101,95,6,0,0,0,0\n99,95,4,0,0,0,0\n";

// A batch that ended normally after `rows` of console text.
std::string batchConsole(const std::string& rows) {
  return kBanner + "OUTPUTS: \n" + rows + "\nTotal elapse time: 0 seconds.\n\n";
}

std::string repeated(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

// Bytes that hold no number text at all (no digit), with a line end every 40 bytes: every
// field of every line reads as 0.0.
std::string garbageWithoutDigits(std::size_t length) {
  std::string text;
  std::uint32_t state = 12345;
  while (text.size() < length) {
    if (text.size() % 41 == 40) {
      text.push_back('\n');
      continue;
    }
    state = state * 1103515245u + 12345u;
    const unsigned char c = static_cast<unsigned char>(state >> 16);
    if ((c >= '0' && c <= '9') || c == '\n' || c == 0x1A) continue;
    text.push_back(static_cast<char>(c));
  }
  return text + "\n";
}

TEST(BadInput, MissingSettingsOrDistributionStops) {
  for (bool asDirectory : {false, true}) {
    SCOPED_TRACE(asDirectory ? "directory in its place" : "missing");
    {
      TempDir dir;
      dir.write("dist.csv", "0,1\n");
      dir.write("batch.csv", "h\n100,95,1\n");
      if (asDirectory) fs::create_directory(dir.file("Setup.txt"));
      const RunOutcome run = runIn(dir, {.input = "1 100 95 1\n", .clock = kStillClock});
      EXPECT_EQ(run.out, "Error opening file: Setup.txt" + kPauseLine);
      EXPECT_EQ(run.err, "") << "a stop writes to standard output only";
      EXPECT_EQ(run.status, 1);
      EXPECT_FALSE(dir.exists("Batch_Result.csv"));
      EXPECT_FALSE(dir.exists("VelmarTemp.txt"));
    }
    {
      // Manual: the prompts are answered, then the valuation finds no distribution. The
      // distribution is read before the temporary file is made, so none is left.
      TempDir dir;
      dir.write("Setup.txt", setupText({.runMode = "1", .probabilities = true}));
      if (asDirectory) fs::create_directory(dir.file("dist.csv"));
      const RunOutcome run = runIn(dir, {.input = "100 95 1\n", .clock = kStillClock});
      EXPECT_EQ(run.out, kBanner + kPrompts + "Error opening file: dist.csv" + kPauseLine);
      EXPECT_EQ(run.status, 1);
      EXPECT_FALSE(dir.exists("VelmarTemp.txt"));
    }
    {
      // Batch: the result file already has its header when the first row stops.
      TempDir dir;
      dir.write("Setup.txt", setupText({.runMode = "2"}));
      dir.write("batch.csv", "h\n100,95,1\n");
      if (asDirectory) fs::create_directory(dir.file("dist.csv"));
      const RunOutcome run = runIn(dir, {.clock = kStillClock});
      EXPECT_EQ(run.out, kBanner + "OUTPUTS: \nError opening file: dist.csv" + kPauseLine);
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(dir.read("Batch_Result.csv"), kResultHeader);
    }
  }
}

TEST(BadInput, MissingBatchInputLeavesResultsAlone) {
  for (bool asDirectory : {false, true}) {
    for (bool earlierResults : {false, true}) {
      SCOPED_TRACE(std::string(asDirectory ? "directory" : "missing") +
                   (earlierResults ? ", earlier results" : ""));
      TempDir dir;
      dir.write("Setup.txt", setupText({.runMode = "2"}));
      dir.write("dist.csv", "0,1\n");
      if (asDirectory) fs::create_directory(dir.file("batch.csv"));
      if (earlierResults) dir.write("Batch_Result.csv", "S0,K\n1,2\n");
      const RunOutcome run = runIn(dir, {.clock = kStillClock});
      EXPECT_EQ(run.out, kBanner + "Error opening file: batch.csv" + kPauseLine);
      EXPECT_EQ(run.status, 1);
      if (earlierResults) {
        EXPECT_EQ(dir.read("Batch_Result.csv"), "S0,K\n1,2\n");
      } else {
        EXPECT_FALSE(dir.exists("Batch_Result.csv"));
      }
    }
  }
}

TEST(BadInput, ResultFileThatCannotBeWrittenStops) {
  // Run as root, permissions do not stop a write; a directory of that name does.
  TempDir dir;
  dir.write("Setup.txt", setupText({.runMode = "2"}));
  dir.write("dist.csv", "0,1\n");
  dir.write("batch.csv", "h\n100,95,1\n");
  fs::create_directory(dir.file("Batch_Result.csv"));
  const RunOutcome run = runIn(dir, {.clock = kStillClock});
  EXPECT_EQ(run.out, kBanner + "Error opening file: Batch_Result.csv" + kPauseLine);
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(fs::is_directory(dir.file("Batch_Result.csv")));
  EXPECT_TRUE(fs::is_empty(dir.file("Batch_Result.csv")));
  EXPECT_FALSE(dir.exists("VelmarTemp.txt"));
}

TEST(BadInput, TemporaryFileThatCannotBeMade) {
  // With probabilities on, the terminal prices have nowhere to go: the run stops. With them
  // off, nothing is written there and the run goes on.
  for (bool probabilities : {true, false}) {
    SCOPED_TRACE(probabilities ? "probabilities on" : "probabilities off");
    TempDir dir;
    dir.write("Setup.txt", setupText({.runMode = "1", .probabilities = probabilities}));
    dir.write("dist.csv", "0,1\n");
    fs::create_directory(dir.file("VelmarTemp.txt"));
    const RunOutcome run = runIn(dir, {.input = "100 95 1\n", .clock = kStillClock});
    if (probabilities) {
      EXPECT_EQ(run.out, kBanner + kPrompts + "Error opening file: VelmarTemp.txt" + kPauseLine);
      EXPECT_EQ(run.status, 1);
    } else {
      EXPECT_EQ(run.out, kBanner + kPrompts + kFlatReport + "\n");
      EXPECT_EQ(run.status, 0);
    }
    EXPECT_TRUE(fs::is_directory(dir.file("VelmarTemp.txt")));
  }
}

TEST(BadInput, DistributionWithoutDataRowsStops) {
  // An empty file, blank lines, CR LF pairs, a line that begins with a 0 byte and whatever
  // follows 0x1A are no rows.
  for (const std::string& text : {""s, "\n\r\n\n"s, "\x1a" "0,1\n"s, "\0" "0,1\n"s}) {
    TempDir dir;
    dir.write("Setup.txt", setupText({.runMode = "1"}));
    dir.write("dist.csv", text);
    const RunOutcome run = runIn(dir, {.input = "100 95 1\n", .clock = kStillClock});
    EXPECT_EQ(run.out, kBanner + kPrompts + "Error in dist.csv: no data rows" + kPauseLine);
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(dir.exists("VelmarTemp.txt"));
  }
}

TEST(BadInput, BinaryGarbage) {
  const std::string garbage = garbageWithoutDigits(2000);
  {
    // Settings: no line gives a key.
    TempDir dir;
    dir.write("Setup.txt", garbage);
    const RunOutcome run = runIn(dir, {.clock = kStillClock});
    EXPECT_EQ(run.out, "Error in Setup.txt: no line for key 2" + kPauseLine);
    EXPECT_EQ(run.status, 1);
  }
  {
    // Distribution: every row reads as return 0 with weight 0, so no price moves.
    TempDir dir;
    dir.write("Setup.txt", setupText({.runMode = "1"}));
    dir.write("dist.csv", garbage);
    const RunOutcome run = runIn(dir, {.input = "100 95 1\n", .clock = kStillClock});
    EXPECT_EQ(run.out, kBanner + kPrompts + kFlatReport + "\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir.read("VelmarTemp.txt"), "");
  }
  {
    // Batch rows of garbage are valued with zeros: spot 0, strike 0, 0 days.
    TempDir dir;
    dir.write("Setup.txt", setupText({.runMode = "2"}));
    dir.write("dist.csv", "0,1\n");
    dir.write("batch.csv", "S0,K,Days\n" + garbage.substr(0, 82));  // two lines of garbage
    const RunOutcome run = runIn(dir, {.clock = kStillClock});
    const std::string zeroRow =
        "S0=0, K=0, Call=0, Put=0, Theta=0/0\nS0=0, K=0, Call=0, Put=0, Theta=0/0\n"
        "S0=0, K=0, Call=0, Put=0, Theta=0/0, and Stdev(S)=0\n"
        "S0=0, K=0, Call=0, Put=0, Theta=0/0\nS0=0, K=0, Call=0, Put=0, Theta=0/0\n"
        "Elapse time: 0 seconds.\n" + kDashes;
    EXPECT_EQ(run.out, batchConsole(zeroRow + zeroRow));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir.read("Batch_Result.csv"), kResultHeader + repeated("0,0,0,0,0,0,0\n", 10));
  }
}

TEST(BadInput, ZeroBytesEndOnlyTheNumberOfTheirField) {
  // A 0 byte ends the number of its own field ("2<0>9" is 2), and the fields after it are read:
  // the row "100<0>,95,2" is S0 100, strike 95, two days. A line that begins with one is empty.
  TempDir dir;
  dir.write("Setup.txt", setupText({.runMode = "2", .moreLines = "2 Trajectories 2\0" "9\n"s}));
  dir.write("dist.csv", "0,1\n");
  dir.write("batch.csv", "h\n\0" "1,2,3\n100\0,95,2\n"s);
  const RunOutcome run = runIn(dir, {.clock = kStillClock});
  EXPECT_EQ(run.out, batchConsole(kStillRowConsole));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(dir.read("Batch_Result.csv"), kResultHeader + kStillRowResults);
}

TEST(BadInput, EndOfFileByteMidFile) {
  {
    // Nothing after 0x1A is read: key 5 is never seen.
    TempDir dir;
    dir.write("Setup.txt", "1 RunMode 2\n2 T 2\n3 R 0\n4 S 1\n\x1a" "5 Sh 1 1 1 1\n");
    const RunOutcome run = runIn(dir, {.clock = kStillClock});
    EXPECT_EQ(run.out, "Error in Setup.txt: no line for key 5" + kPauseLine);
    EXPECT_EQ(run.status, 1);
  }
  {
    // The distribution's second row (which would move every price) and the batch's second row
    // lie after the byte.
    TempDir dir;
    dir.write("Setup.txt", setupText({.runMode = "2"}));
    dir.write("dist.csv", "0,1\x1a\n0.5,1000\n");
    dir.write("batch.csv", "h\n100,95,1\n\x1a" "100,95,1\n");
    const RunOutcome run = runIn(dir, {.clock = kStillClock});
    EXPECT_EQ(run.out, batchConsole(kFlatRowConsole));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(dir.read("Batch_Result.csv"), kResultHeader + kFlatRowResults);
  }
}

TEST(BadInput, LinesOfThousandsOfCharacters) {
  {
    // A 5000-character comment is cut into 99-character pieces, each of which is a line
    // without a key; a distribution line of 3000 zeros gives 31 rows of return 0, weight 0.
    TempDir dir;
    dir.write("Setup.txt", "#" + std::string(4999, '#') + "\n" + setupText({.runMode = "1"}));
    dir.write("dist.csv", std::string(3000, '0') + "\n0,5\n");
    const RunOutcome run = runIn(dir, {.input = "100 95 1\n", .clock = kStillClock});
    EXPECT_EQ(run.out, kBanner + kPrompts + kFlatReport + "\n");
    EXPECT_EQ(run.status, 0);
  }
  {
    // A console answer of 5000 digits is too long to be a number: the read fails, and every
    // later one with it, so spot, strike and days stay 0.
    TempDir dir;
    dir.write("Setup.txt", setupText({.runMode = "1"}));
    dir.write("dist.csv", "0,1\n");
    const RunOutcome run =
        runIn(dir, {.input = std::string(5000, '1') + " 95 1\n", .clock = kStillClock});
    const auto lines = splitLines(run.out);
    ASSERT_EQ(lines.size(), 26u) << run.out;
    EXPECT_EQ(lines[6], "OUTPUT:");
    EXPECT_EQ(lines[7], "Call Value = 0");
    EXPECT_EQ(lines[8], "Put Value  = 0");
    EXPECT_EQ(lines[12], "DdelV OUTPUT 1: S0 = 0; Return = 1.02");
    EXPECT_EQ(run.status, 0);
  }
  {
    // A batch row followed by 3000 blanks: the row is valued with the first 91 blanks, and
    // each of the 30 further pieces of blanks is a row of zeros.
    TempDir dir;
    dir.write("Setup.txt", setupText({.runMode = "2"}));
    dir.write("dist.csv", "0,1\n");
    dir.write("batch.csv", "h\n100,95,1" + std::string(3000, ' ') + "\n");
    const RunOutcome run = runIn(dir, {.clock = kStillClock});
    EXPECT_EQ(run.status, 0);
    const std::string results = dir.read("Batch_Result.csv");
    EXPECT_EQ(results.substr(0, kResultHeader.size() + kFlatRowResults.size()),
              kResultHeader + kFlatRowResults);
    EXPECT_EQ(splitLines(results).size(), 1u + 5 * (1 + 30));
  }
}

TEST(BadInput, DistributionRowLimit) {
  // 5000 rows load; the 5001st stops the run before anything is valued.
  for (int rows : {5000, 5001}) {
    SCOPED_TRACE(rows);
    TempDir dir;
    dir.write("Setup.txt", setupText({.runMode = "1"}));
    dir.write("dist.csv", repeated("0,1\n", rows));
    const RunOutcome run = runIn(dir, {.input = "100 95 1\n", .clock = kStillClock});
    if (rows == 5000) {
      EXPECT_EQ(run.out, kBanner + kPrompts + kFlatReport + "\n");
      EXPECT_EQ(run.status, 0);
    } else {
      EXPECT_EQ(run.out,
                kBanner + kPrompts + "Error in dist.csv: more than 5000 rows" + kPauseLine);
      EXPECT_EQ(run.status, 1);
      EXPECT_FALSE(dir.exists("VelmarTemp.txt"));
    }
  }
}

TEST(BadInput, TotalWeightOutOfRangeStops) {
  struct Case {
    const char* dist;
    bool loads;
  };
  for (const Case c : {Case{"0,2147483647\n", true}, Case{"0,2147483647\n0,1\n", false},
                       Case{"0,-2147483648\n", true}, Case{"0,-2147483648\n0,-1\n", false},
                       Case{"0,1e308\n0,1e308\n", false}, Case{"0,1e400\n", false}}) {
    SCOPED_TRACE(c.dist);
    TempDir dir;
    dir.write("Setup.txt", setupText({.runMode = "1"}));
    dir.write("dist.csv", c.dist);
    const RunOutcome run = runIn(dir, {.input = "100 95 1\n", .clock = kStillClock});
    if (c.loads) {
      EXPECT_EQ(run.out, kBanner + kPrompts + kFlatReport + "\n");
      EXPECT_EQ(run.status, 0);
    } else {
      EXPECT_EQ(run.out,
                kBanner + kPrompts + "Error in dist.csv: total weight out of range" + kPauseLine);
      EXPECT_EQ(run.status, 1);
      EXPECT_FALSE(dir.exists("VelmarTemp.txt"));
    }
  }
}

TEST(BadInput, BatchRowsWithDaysOutOfRangeAreSkipped) {
  // The smallest 32-bit day count is valued (no step runs, nothing moves); one below it, an
  // infinite one and one above the largest are not, and the rows around them go on.
  TempDir dir;
  dir.write("Setup.txt", setupText({.runMode = "2"}));
  dir.write("dist.csv", "0,1\n");
  dir.write("batch.csv",
            "h\n100,95,-2147483649\n100,95,1e400\n100,95,-2147483648\n100,95,2147483648\n");
  const RunOutcome run = runIn(dir, {.clock = kStillClock});
  const std::string skipped = "Skipped row: days out of range\n";
  EXPECT_EQ(run.out, batchConsole(skipped + skipped + kFlatRowConsole + skipped));
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(dir.read("Batch_Result.csv"), kResultHeader + kFlatRowResults);
}

// True when `text` is `unit` repeated, cut after one of its lines.
bool isRepeatedLines(const std::string& text, const std::string& unit) {
  if (text.empty()) return true;
  if (text.back() != '\n') return false;
  std::string whole;
  while (whole.size() < text.size()) whole += unit;
  return whole.compare(0, text.size(), text) == 0;
}

TEST(BadInput, BatchCutOffKeepsTheFinishedRows) {
  // A long batch of identical rows, killed as soon as its first row has reached the result
  // file: every line written so far is there and whole.
  TempDir dir;
  dir.write("Setup.txt", setupText({.runMode = "2", .trajectories = 1000}));
  dir.write("dist.csv", "0,1\n");
  dir.write("batch.csv", "S0,K,Days\n" + repeated("100,95,10\n", 5000));
  StartedRun batch(dir, {.clock = kStillClock});
  auto finishedLines = [&] {
    const std::string text = dir.read("Batch_Result.csv");
    return std::count(text.begin(), text.end(), '\n');
  };
  while (!batch.ended() && finishedLines() < 6) ::usleep(1000);
  ASSERT_FALSE(batch.ended()) << "the batch ended before it was cut off";
  batch.kill();
  const RunOutcome run = batch.wait();
  EXPECT_EQ(run.status, -1);

  // Ten days without a move: thetas are 0.
  const std::string results = dir.read("Batch_Result.csv");
  ASSERT_GE(results.size(), kResultHeader.size() + kStillRowResults.size());
  EXPECT_EQ(results.substr(0, kResultHeader.size() + kStillRowResults.size()),
            kResultHeader + kStillRowResults);
  EXPECT_TRUE(isRepeatedLines(results.substr(kResultHeader.size()), kStillRowResults))
      << results;

  const std::string head = bannerText("0", 1000) + "OUTPUTS: \n";
  ASSERT_GE(run.out.size(), head.size() + kStillRowConsole.size());
  EXPECT_EQ(run.out.substr(0, head.size() + kStillRowConsole.size()), head + kStillRowConsole);
  EXPECT_TRUE(isRepeatedLines(run.out.substr(head.size()), kStillRowConsole)) << run.out;
}

TEST(BadInput, StandardInputEndsAtEveryPrompt) {
  // Each answer that is missing leaves its value at 0 and every later read fails at once; the
  // run still values and reports.
  struct Case {
    std::string typed;
    std::string report;  // the report's value lines, from "Call Value" to the base theta
  };
  const std::string zeros =
      "Call Value = 0\nPut Value  = 0\nStdev of S = 0\nTheta: Call = 0; Put = 0\n";
  // Spot 100, strike 0, no days: the call pays the whole spot.
  const std::string noStrike =
      "Call Value = 100\nPut Value  = 0\nStdev of S = 0\nTheta: Call = 100; Put = 0\n";
  const std::string flat =
      "Call Value = 5\nPut Value  = 0\nStdev of S = 0\nTheta: Call = 5; Put = 0\n";
  for (const Case& c : {Case{"", zeros}, Case{"100\n", noStrike}, Case{"100 95\n", flat}}) {
    SCOPED_TRACE(c.typed);
    TempDir dir;
    dir.write("Setup.txt", setupText({.runMode = "1"}));
    dir.write("dist.csv", "0,1\n");
    const RunOutcome run = runIn(dir, {.input = c.typed, .clock = kStillClock});
    const auto lines = splitLines(run.out);
    ASSERT_EQ(lines.size(), 26u) << run.out;
    EXPECT_EQ(run.out.substr(0, kBanner.size() + kPrompts.size() + 9),
              kBanner + kPrompts + "\nOUTPUT:\n");
    EXPECT_EQ(lines[7] + "\n" + lines[8] + "\n" + lines[9] + "\n" + lines[10] + "\n", c.report);
    EXPECT_EQ(lines[24], "Elapse time: 0 seconds.");
    EXPECT_EQ(run.status, 0);
  }
}

TEST(BadInput, ClosedStandardInputReadsLikeEmptyInput) {
  // The manual prompts, the run-mode question with the pause at the end, and the pause after
  // a stop: no read waits, and the run ends as it does on empty input.
  struct Case {
    SetupFile setup;
    bool withDistribution;
    std::string ending;
    int status;
  };
  const Case cases[] = {
      {{.runMode = "1"}, true, "Elapse time: 0 seconds.\n\n", 0},
      {{.pauseAtEnd = true}, true, "Manual[1] or Batch[2] run? \n\n" + kPauseLine, 0},
      {{.runMode = "1"}, false, "Error opening file: dist.csv" + kPauseLine, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ending);
    TempDir dir;
    dir.write("Setup.txt", setupText(c.setup));
    if (c.withDistribution) dir.write("dist.csv", "0,1\n");
    const RunOutcome empty = runIn(dir, {.clock = kStillClock});
    const RunOutcome closed = runIn(dir, {.input = std::nullopt, .clock = kStillClock});
    EXPECT_TRUE(empty.out.ends_with(c.ending)) << empty.out;
    EXPECT_EQ(empty.status, c.status);
    EXPECT_EQ(closed.out, empty.out);
    EXPECT_EQ(closed.status, c.status);
  }
}

}  // namespace
