// Whole runs: the banner, how the run mode is settled, the closing line, the pause and the
// exit status.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "run_support.h"

namespace {

const std::string kPause = "Press any key to continue . . . \n";
const std::string kQuestion = "Manual[1] or Batch[2] run? ";

std::string setupWith(const std::string& mode, const std::string& extra = "") {
  std::string text = "2 Trajectories 3\n3 Rate 0.05\n4 Scale 1\n5 Shift 0.99 0.995 1.005 1.01\n";
  if (!mode.empty()) text = "1 Mode " + mode + "\n" + text;
  return text + extra;
}

const std::string kBanner =
    "PARAMETERS:\nRisk Free Rate:       0.05\nNum of Trajectories:  3\n\n";

// Runs in a directory that holds the given settings and small run inputs.
RunOutcome run(const std::string& setup, const std::string& input) {
  TempDir dir;
  dir.write("Setup.txt", setup);
  dir.write("dist.csv", "0.001,5\n");
  dir.write("batch.csv", "S0,K,Days\n100,100,1\n");
  return runIn(dir, input);
}

bool startsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

std::size_t count(const std::string& text, const std::string& piece) {
  std::size_t n = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; ++n) {
    at = text.find(piece, at + 1);
  }
  return n;
}

TEST(ProgramFlow, RunModeFromTheSettingsIsTruncated) {
  for (const char* mode : {"1", "1.9"}) {
    const RunOutcome r = run(setupWith(mode), "100 100 1\n");
    EXPECT_TRUE(startsWith(r.out, kBanner + "INPUTS:\nUnderlying Price: ")) << mode << r.out;
    EXPECT_EQ(count(r.out, "OUTPUT:"), 1u);
    EXPECT_EQ(r.status, 0);
  }
  const RunOutcome batch = run(setupWith("2.5"), "");
  EXPECT_TRUE(startsWith(batch.out, kBanner + "OUTPUTS: \n")) << batch.out;
  EXPECT_EQ(batch.status, 0);
}

TEST(ProgramFlow, ModesThatSelectNoRunEndWithTheClosingLine) {
  for (const char* mode : {"3", "-1", "-1.5", "1e12", "-1e12", "1e400"}) {
    const RunOutcome r = run(setupWith(mode), "1\n");
    EXPECT_EQ(r.out, kBanner + "\n") << mode;
    EXPECT_EQ(r.status, 0);
  }
}

TEST(ProgramFlow, ModeZeroAsksTheQuestion) {
  for (const char* mode : {"0", "0.5", "-0.7", "", "word"}) {
    for (const char* answer : {"0\n", "7\n", "", "abc\n", "-\n", "3.9\n"}) {
      const RunOutcome r = run(setupWith(mode), answer);
      EXPECT_EQ(r.out, kBanner + kQuestion + "\n\n") << '"' << mode << "\" " << answer;
      EXPECT_EQ(r.status, 0);
    }
  }
  const RunOutcome batch = run(setupWith("0.5"), "2\n");
  EXPECT_TRUE(startsWith(batch.out, kBanner + kQuestion + "\nOUTPUTS: \n")) << batch.out;
  const RunOutcome manual = run(setupWith("-0.7"), "1.5 100 100 1\n");
  EXPECT_TRUE(startsWith(manual.out, kBanner + kQuestion + "\nINPUTS:\n")) << manual.out;
  EXPECT_NE(manual.out.find("OUTPUT:"), std::string::npos);
}

TEST(ProgramFlow, PauseAtTheEndComesOnceAfterTheClosingLine) {
  RunOutcome r = run(setupWith("3", "6 Pause 1\n"), "");
  EXPECT_EQ(r.out, kBanner + "\n" + kPause);
  EXPECT_EQ(r.status, 0);
  r = run(setupWith("0", "6 Pause 1\n"), "7\n");
  EXPECT_EQ(r.out, kBanner + kQuestion + "\n\n" + kPause);
  r = run(setupWith("1", "6 Pause 1\n"), "100 100 1\n");
  EXPECT_EQ(count(r.out, kPause), 1u);
  EXPECT_TRUE(r.out.ends_with("\n\n" + kPause)) << r.out;
  r = run(setupWith("1", "6 Pause 0\n"), "100 100 1\n");
  EXPECT_EQ(count(r.out, "Press any key"), 0u);
  EXPECT_TRUE(r.out.ends_with(" seconds.\n\n")) << r.out;
}

TEST(ProgramFlow, BannerShowsRateAndTrajectories) {
  TempDir dir;
  dir.write("Setup.txt", "1 Mode 3\n2 T 10000\n3 Rate 0.05\n4 S 1\n5 F 1 1 1 1\n");
  const RunOutcome r = runIn(dir, "");
  EXPECT_EQ(r.out,
            "PARAMETERS:\nRisk Free Rate:       0.05\nNum of Trajectories:  10000\n\n\n");
}

TEST(ProgramFlow, SettingsThatCannotBeOpenedStopTheProgram) {
  TempDir dir;
  RunOutcome r = runIn(dir, "");
  EXPECT_EQ(r.out, "Error opening file: Setup.txt" + kPause);
  EXPECT_EQ(r.status, 1);
  std::filesystem::create_directory(dir.file("Setup.txt"));
  r = runIn(dir, "");
  EXPECT_EQ(r.out, "Error opening file: Setup.txt" + kPause);
  EXPECT_EQ(r.status, 1);
}

// With a clock that moves 100 s per reading: reading 0 seeds, reading 1 is the start, and the
// manual run's elapsed line decides on reading 2 (100 s) and writes reading 3 (200 s).
TEST(ProgramFlow, ManualElapsedTimeCountsFromTheStart) {
  TempDir dir;
  dir.write("Setup.txt", setupWith("1"));
  dir.write("dist.csv", "0.001,5\n");
  const RunOutcome r = runIn(dir, "100 100 1\n", std::make_pair(1000, 100));
  EXPECT_TRUE(r.out.ends_with("\nElapse time: 200 seconds.\n\n")) << r.out;
}

}  // namespace
