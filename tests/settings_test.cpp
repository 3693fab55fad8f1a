// Reading "Setup.txt": keys, repeated keys, the two switches and the stops for settings that
// cannot be used.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>

#include "app/check/check_run.h"
#include "runs/settings.h"
#include "builder/rate_settings.h"
#include "run_support.h"

using namespace empricer;

namespace {

using namespace std::string_literals;

// The settings loaded from a Setup.txt that holds `content`, from the working directory as the
// program loads them.
RunSettings load(const std::string& content) {
  TempDir dir;
  dir.write("Setup.txt", content);
  ScopedWorkingDirectory here(dir);
  const Outcome<RunSettings> loaded = loadSettings("Setup.txt");
  EXPECT_TRUE(loaded.ok()) << loaded.message();
  return loaded.ok() ? loaded.value() : RunSettings{};
}

TEST(Settings, KeysAreTruncatedAndUnknownKeysIgnored) {
  RunSettings s = load(setupText({.moreLines = "1.9 Mode 2\n7.99 Prob 1\n"}));
  EXPECT_EQ(s.runMode, 2.0);
  EXPECT_TRUE(s.withProbabilities);

  s = load(setupText({.runMode = "2",
                      .moreLines = "0.5 Mode 1\n-0.5 Mode 1\n8 Mode 1\n# Mode 1\n 1 Mode 1\n"
                                   "4294967297 Mode 1\n-4294967295 Mode 1\n1e19 Mode 1\n"
                                   "6 Pause 2\n"}));
  EXPECT_EQ(s.runMode, 2.0);
  EXPECT_FALSE(s.pauseAtEnd);
  EXPECT_FALSE(s.withProbabilities);
  EXPECT_EQ(load(setupText({.moreLines = "1e0 Mode 2.5\n"})).runMode, 2.5);
}

TEST(Settings, ValuesOfEachKey) {
  const RunSettings s =
      load("1 Mode 1.9\n2 Trajectories 1000.9\n3 Rate -0.02\n4 Scale 2\n"
           "5 Shift 0.9 0.95 1.05 1.1 7\n");
  EXPECT_EQ(s.runMode, 1.9);
  EXPECT_EQ(s.trajectories, 1000);
  EXPECT_EQ(s.riskFreeRate, -0.02);
  EXPECT_EQ(s.stepFraction, 0.003703703703703704 / 2.0);
  EXPECT_EQ(s.shiftFactor[0], 0.9);
  EXPECT_EQ(s.shiftFactor[1], 0.95);
  EXPECT_EQ(s.shiftFactor[2], 1.05);
  EXPECT_EQ(s.shiftFactor[3], 1.1);
  EXPECT_EQ(load(setupText({.moreLines = "2 Trajectories -3.7\n"})).trajectories, -3);
  EXPECT_TRUE(std::isinf(load(setupText({.moreLines = "4 Scale 0\n"})).stepFraction));
}

TEST(Settings, LastLineDecidesForKeysOneToFive) {
  const RunSettings s =
      load(setupText({.moreLines = "3 Rate 0.05\n3 Rate 0.04\n5 Shift 1 2 3 4\n"}));
  EXPECT_EQ(s.riskFreeRate, 0.04);
  EXPECT_EQ(s.shiftFactor[0], 1.0);
  EXPECT_EQ(s.shiftFactor[3], 4.0);
}

TEST(Settings, MissingKeyOneLeavesRunModeZero) {
  EXPECT_EQ(load(setupText({})).runMode, 0.0);
}

TEST(Settings, SwitchesTurnOnOnlyForExactlyOne) {
  for (const char* on : {"1", "1.0", "1e0", "1d0", "+1", "0.1e1"}) {
    const RunSettings s =
        load(setupText({.moreLines = "6 Pause "s + on + "\n7 Prob " + on + "\n"}));
    EXPECT_TRUE(s.pauseAtEnd) << on;
    EXPECT_TRUE(s.withProbabilities) << on;
  }
  for (const char* off : {"1.0000001", "2", "yes", "0", "-1", ""}) {
    const RunSettings s =
        load(setupText({.moreLines = "6 Pause "s + off + "\n7 Prob " + off + "\n"}));
    EXPECT_FALSE(s.pauseAtEnd) << off;
    EXPECT_FALSE(s.withProbabilities) << off;
  }
  const RunSettings s = load(setupText({.moreLines = "6 P 1\n6 P 0\n7 P 1\n7 P 2\n"}));
  EXPECT_TRUE(s.pauseAtEnd);
  EXPECT_TRUE(s.withProbabilities);
  const RunSettings none = load(setupText({}));
  EXPECT_FALSE(none.pauseAtEnd);
  EXPECT_FALSE(none.withProbabilities);
}

TEST(Settings, SpacingShiftsTheFields) {
  // A rate line whose value does not land in field 3 sets the rate to 0.
  const std::string rated = setupText({.rate = "0.05"});
  EXPECT_EQ(load(rated + "3  Rate 0.05\n").riskFreeRate, 0.0);
  EXPECT_EQ(load(rated + "3 Risk Free 0.05\n").riskFreeRate, 0.0);
  // Tabs do not separate fields: the whole line is field 1, and field 3 is missing.
  EXPECT_EQ(load("1\tMode\t2\n" + setupText({})).runMode, 0.0);
  const RunSettings s = load(setupText({.moreLines = "5 Shift 2 3\n"}));
  EXPECT_EQ(s.shiftFactor[1], 3.0);
  EXPECT_EQ(s.shiftFactor[2], 0.0);
  EXPECT_EQ(s.shiftFactor[3], 0.0);
}

TEST(Settings, ZeroByteEndsOnlyTheNumberOfItsField) {
  const RunSettings s = load(setupText({.moreLines = "5 Shifts 1.02\0 0.98 1.01 0.99\n"s}));
  EXPECT_EQ(s.shiftFactor[0], 1.02);
  EXPECT_EQ(s.shiftFactor[1], 0.98);
  EXPECT_EQ(s.shiftFactor[2], 1.01);
  EXPECT_EQ(s.shiftFactor[3], 0.99);
}

TEST(Settings, LongLinesAndCrLf) {
  // A 99-character comment is one line; its remainder "3 Rate 0.07" is examined on its own.
  const std::string comment = "0 " + std::string(97, 'x');
  EXPECT_EQ(load(setupText({.moreLines = comment + "3 Rate 0.07\n"})).riskFreeRate, 0.07);
  const RunSettings s = load(
      "1 Mode 2\r\n2 Trajectories 7\r\n3 Rate 0.03\r\n4 Scale 1\r\n5 Shift 1 1 1 1\r\n"
      "6 Pause 1\r\n\r\n");
  EXPECT_EQ(s.runMode, 2.0);
  EXPECT_EQ(s.trajectories, 7);
  EXPECT_EQ(s.riskFreeRate, 0.03);
  EXPECT_TRUE(s.pauseAtEnd);
}

std::uint64_t bitsOf(double value) { return std::bit_cast<std::uint64_t>(value); }

// The last value --check says a line of Setup.txt gives for `name`.
double lastCheckValue(const CheckReport& report, const std::string& name) {
  double value = -1.0;
  for (const ReadValue& v : report.values) {
    if (v.file == "Setup.txt" && v.name == name) value = v.value;
  }
  return value;
}

// Keys 3 and 4 as the run reads them, as --check says they read and as empricer-dist's --setup
// reads them: the same doubles, and the step fraction the same (1 / 270) / scale.
TEST(Settings, RunCheckAndDistAgreeOnRateAndStepScale) {
  struct Case {
    std::string moreLines;  // after the lines of setupText, which give rate 0 and scale 1
    double rate;
    double scale;
  };
  const Case cases[] = {
      {"", 0.0, 1.0},
      {"3 Rate 0.05\n4 Scale 2\n", 0.05, 2.0},
      {"3.9 Rate 0.07\n4.2 Scale 0.5\n-3 Rate 9\n 4 Scale 9\n8 Scale 9\n", 0.07, 0.5},
      {"3 Rate 0.03\n4 Scale 7\n3 Rate 0.04\n4 Scale 1.5\n", 0.04, 1.5},
      {"3  Rate 0.05\n4 Step Scale 2\n", 0.0, 0.0},
      {"4\tScale\t2\n", 0.0, 0.0},
      {"3 Rate 5%\n4 Scale 3\r\n", 5.0, 3.0},
      {"3 Rate 1d-2\n4 Scale 0x10\n", 0.01, 0.0},
      {"3 Rate -0.02 9\n4 Scale -3e-1 9\n", -0.02, -0.3},
      {"4 Scale 1e-310\n", 0.0, 1e-310},
  };
  for (const Case& c : cases) {
    TempDir dir;
    dir.write("Setup.txt", setupText({.moreLines = c.moreLines}));
    ScopedWorkingDirectory here(dir);
    const Outcome<RunSettings> run = loadSettings("Setup.txt");
    const Outcome<RateSettings> dist = loadRateSettings("Setup.txt");
    const CheckReport check = checkFiles();
    ASSERT_TRUE(run.ok()) << run.message();
    ASSERT_TRUE(dist.ok()) << dist.message();
    const double stepFraction = 0.003703703703703704 / c.scale;
    EXPECT_EQ(bitsOf(run.value().riskFreeRate), bitsOf(c.rate)) << c.moreLines;
    EXPECT_EQ(bitsOf(run.value().stepFraction), bitsOf(stepFraction)) << c.moreLines;
    EXPECT_EQ(bitsOf(dist.value().rate), bitsOf(c.rate)) << c.moreLines;
    EXPECT_EQ(bitsOf(dist.value().stepScale), bitsOf(c.scale)) << c.moreLines;
    EXPECT_EQ(bitsOf(dist.value().stepFraction), bitsOf(stepFraction)) << c.moreLines;
    EXPECT_EQ(bitsOf(lastCheckValue(check, "rate")), bitsOf(c.rate)) << c.moreLines;
    EXPECT_EQ(bitsOf(lastCheckValue(check, "step scale")), bitsOf(c.scale)) << c.moreLines;
  }
}

// Settings that stop the program, seen from outside: the message, the pause, status 1.
RunOutcome runWithSetup(const std::string& content) {
  TempDir dir;
  dir.write("Setup.txt", content);
  return runIn(dir, {});
}

TEST(SettingsStops, MissingKeysInOrderTwoToFive) {
  const std::string k2 = "2 Trajectories 3\n", k3 = "3 Rate 0.05\n", k4 = "4 Scale 1\n",
                    k5 = "5 Shift 1 1 1 1\n";
  const std::pair<std::string, int> cases[] = {
      {"1 Mode 3\n" + k3 + k4 + k5, 2}, {k5 + k2 + k4, 3}, {k2 + k3 + k5, 4},
      {k2 + k3 + k4, 5},               {"", 2},           {"1 Mode 3\n" + k5, 2}};
  for (const auto& [content, key] : cases) {
    const RunOutcome run = runWithSetup(content);
    EXPECT_EQ(run.out, "Error in Setup.txt: no line for key " + std::to_string(key) + kPauseLine)
        << content;
    EXPECT_EQ(run.status, 1);
  }
}

TEST(SettingsStops, TrajectoriesOutOfRange) {
  for (const char* value : {"2147483648", "-2147483649", "1e400", "-1d999", "1e10"}) {
    const RunOutcome run =
        runWithSetup(setupText({.runMode = "3", .moreLines = "2 T "s + value + "\n"}));
    EXPECT_EQ(run.out, "Error in Setup.txt: key 2 is out of range" + kPauseLine) << value;
    EXPECT_EQ(run.status, 1);
  }
  // Only the last key-2 line counts, and a missing key is reported first.
  RunOutcome run =
      runWithSetup(setupText({.runMode = "3", .moreLines = "2 T 1e10\n2 T 2147483647\n"}));
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("Num of Trajectories:  2147483647\n"), std::string::npos);
  run = runWithSetup(setupText({.runMode = "3", .moreLines = "2 T 5\n2 T -2147483648.9\n"}));
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("Num of Trajectories:  -2147483648\n"), std::string::npos);
  run = runWithSetup("2 T 1e10\n3 Rate 0.05\n5 Shift 1 1 1 1\n");
  EXPECT_EQ(run.out, "Error in Setup.txt: no line for key 4" + kPauseLine);
}

}  // namespace
